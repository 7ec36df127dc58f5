#include <gtest/gtest.h>

#include <regex>

#include "ProcessRunner.h"

namespace {

const std::string kUsage =
    "quillet use as:\n"
    "\t quillet [-s ExpressionString] [-v][-h]\n"
    "Parameters:\n"
    "\t ExpressionString -- expression string which will be verified \n"
    "\t-v for verify expression version.\n"
    "\t-h for help msg.\n"
    "\t return 0 if expression is valid, otherwise invalid \n";
const std::string kLengthError = "error input for expression string (len should in (0,100) )!\n";

struct CliRow {
    const char *name;
    std::vector<std::string> args;
    int status;
    std::string out;
    const char *errPattern;  // regex the whole of stderr must match
};

ProcessResult RunQuillet(std::vector<std::string> args)
{
    args.insert(args.begin(), QUILLET_BIN);
    return RunProcess(args);
}

const char kValidRecords[] =
    R"(\[5 ETrace\] ALARM_MANAGER CExprUtil\.cpp:\d+: token analysis success \n)"
    R"(\[5 ETrace\] ALARM_MANAGER CExprUtil\.cpp:\d+: syntax analysis success \n)"
    R"(\[5 ETrace\] ALARM_MANAGER CExprUtil\.cpp:\d+: Valid expression : [^\n]* \n)";

TEST(CommandLine, OptionsStatusesAndTexts)
{
    const std::string ninetyNine(99, '1');
    const std::string hundred(100, '1');
    const CliRow rows[] = {
        {"no arguments", {}, 46, kUsage, ""},
        {"help", {"-h"}, 0, kUsage, ""},
        {"help ends before a bad expression is verified", {"-s", "1+", "-h"}, 0, kUsage, ""},
        {"version", {"-v"}, 0, std::string("Current version of ") + QUILLET_BIN + " is 1.4.0.11 \n", ""},
        {"99 bytes", {"-s", ninetyNine}, 0, "", kValidRecords},
        {"100 bytes", {"-s", hundred}, 255, kLengthError, ""},
        {"empty", {"-s", ""}, 255, kLengthError, ""},
        {"bad length before help", {"-s", "", "-h"}, 255, kLengthError, ""},
        {"second -s replaces the first", {"-s", "1+", "-s", "2"}, 0, "",
         R"([^\n]*\n[^\n]*\n[^\n]*Valid expression : 2 \n)"},
        {"empty second -s", {"-s", "1", "-s", ""}, 255, kLengthError, ""},
        {"plain argument first", {"x", "-s", "1"}, 46, kUsage, ""},
        {"plain argument after", {"-s", "1", "x"}, 0, "", kValidRecords},
        {"unknown option", {"-s", "1", "-q"}, 46, kUsage, R"([^\n]*illegal option[^\n]*q\n)"},
        {"-s without argument", {"-s"}, 46, kUsage, R"([^\n]*requires an argument[^\n]*s\n)"},
        {"attached argument", {"-s1+2"}, 0, "", kValidRecords},
        {"valid", {"-s", "(1 + 2) * 3 >= {$4} && 5 != 6"}, 0, "", kValidRecords},
        {"invalid syntax", {"-s", "1+"}, 46, "",
         R"(\[5 ETrace\] ALARM_MANAGER CExprUtil\.cpp:\d+: token analysis success \n)"
         R"(\[1 EError\] ALARM_MANAGER CExprUtil\.cpp:\d+: syntax analysis fail\(eTokenCode = -1, eErrorCode = -1\) \n)"
         R"(\[1 EError\] ALARM_MANAGER CExprUtil\.cpp:\d+: Invalid expression : 1\+ \n)"},
        {"newline stays inside one record", {"-s", "1\n+2\\"}, 46, "",
         R"([^\n]* Invalid token in expression string \n)"
         R"(\[1 EError\] ALARM_MANAGER CExprUtil\.cpp:\d+: Invalid expression : 1\\n\+2\\\\ \n)"},
    };
    for (const CliRow &row : rows) {
        SCOPED_TRACE(row.name);
        const ProcessResult result = RunQuillet(row.args);
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(result.out, row.out);
        EXPECT_TRUE(std::regex_match(result.err, std::regex(row.errPattern))) << result.err;
    }
}

}  // namespace
