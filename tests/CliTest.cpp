#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

// `text` with the line number of every record replaced by '#', so that a
// moved log call changes no test (a missing number stays missing).
std::string Normalised(std::string text)
{
    for (size_t at = 0; (at = text.find("CExprUtil.cpp:", at)) != std::string::npos;) {
        at += sizeof "CExprUtil.cpp:" - 1;
        const size_t end = std::min(text.find_first_not_of("0123456789", at), text.size());
        text.replace(at, end - at, end > at ? "#" : "");
    }
    return text;
}

// All the child wrote to `file` (a file, not a pipe: no output size blocks the
// child), whose shared offset its writes left at the end; `file` is closed.
std::string Drain(std::FILE *file)
{
    std::string text(static_cast<size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    text.resize(std::fread(text.data(), 1, text.size(), file));
    EXPECT_EQ(std::fclose(file), 0);
    return text;
}

// Runs `argv` (argv[0] the program's path) without a shell and waits for it.
// Status (-1 unless it exited normally), output and normalised records; with
// `readerGone`, standard error is a pipe closed by its reader, as in `2>&1 >/dev/null | true`.
std::tuple<int, std::string, std::string> RunChild(
    const std::vector<std::string> &argv, bool readerGone = false)
{
    std::FILE *out = std::tmpfile(), *err = std::tmpfile();
    int gone[2] = {-1, -1};
    EXPECT_TRUE(!readerGone || (pipe(gone) == 0 && close(gone[0]) == 0));
    std::vector<const char *> words = {PROCESS_LAUNCHER};  // a cross build's emulator, if any
    words.reserve(words.size() + argv.size() + 1);
    for (const std::string &arg : argv)
        words.push_back(arg.c_str());
    words.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        (void)signal(SIGPIPE, SIG_DFL);  // as a shell leaves it for the programs it starts
        dup2(fileno(out), 1);
        dup2(readerGone ? gone[1] : fileno(err), 2);
        execv(words[0], const_cast<char *const *>(words.data()));
        _exit(127);
    }
    if (readerGone)
        close(gone[1]);
    int wstatus = 0;
    const bool exited = pid > 0 && waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus);
    return {exited ? WEXITSTATUS(wstatus) : -1, Drain(out), Normalised(Drain(err))};
}

const std::string kUsage = "quillet use as:\n\t quillet [-s ExpressionString] [-v][-h]\nParameters:\n"
                           "\t ExpressionString -- expression string which will be verified \n"
                           "\t-v for verify expression version.\n\t-h for help msg.\n"
                           "\t return 0 if expression is valid, otherwise invalid \n";
const std::string kLengthError = "error input for expression string (len should in (0,100) )!\n";
const std::string kExampleUsage = "usage: eval_expression EXPRESSION [NUMBER=VALUE]...\n";
const std::string kBadVariable = "eval_expression: expected NUMBER=VALUE (0-65535 = 32-bit integer), got ";

// Log records, their source line number written as '#' (see Normalised).
const std::string kTrace = "[5 ETrace] ALARM_MANAGER CExprUtil.cpp:#: ";
const std::string kError = "[1 EError] ALARM_MANAGER CExprUtil.cpp:#: ";
const std::string kBadToken = kError + "Invalid token in expression string \n";
const std::string kTokens = kTrace + "token analysis success \n";
const std::string kBadSyntax = kTokens + kError + "syntax analysis fail(eTokenCode = -1, eErrorCode = -1) \n";
std::string Valid(const std::string &shown)
{
    return kTokens + kTrace + "syntax analysis success \n" + kTrace + "Valid expression : " + shown + " \n";
}
std::string Invalid(const std::string &why, const std::string &shown)
{
    return why + kError + "Invalid expression : " + shown + " \n";
}

struct Row {
    std::vector<std::string> argv;
    int status;
    std::string out, err;
};

// Each program as a child, status, output and records compared whole. Catches wrong texts
// and statuses, the length check off by one, options read in another order or past a plain
// argument, records changed, split by a newline or applying printf directives, APR failures
// mishandled, a wrong postfix, value, caret or usage error of the example; a status that is not the
// verdict when standard error's reader has gone (the tool's own texts there included).
TEST(ChildProcess, StatusesAndTexts)
{
    const char *tool = BIN_DIR "/quillet", *example = BIN_DIR "/eval_expression",
               *replay = BIN_DIR "/replay_rules";
    const std::string full(99, '1'), sample = "({$1} + 25) * 3 >= 400 && {$2} % 7 == 0";
    std::vector<Row> rows = {
        {{tool}, 46, kUsage, ""},
        {{tool, "-h"}, 0, kUsage, ""},
        {{tool, "-s", "1+", "-h"}, 0, kUsage, ""},
        {{tool, "-v"}, 0, std::string("Current version of ") + tool + " is 1.4.0.11 \n", ""},
        {{tool, "-s", full}, 0, "", Valid(full)},
        {{tool, "-s", full + "1"}, 255, kLengthError, ""},
        {{tool, "-s", "", "-h"}, 255, kLengthError, ""},
        {{tool, "-s", "1+", "-s", sample}, 0, "", Valid(sample)},
        {{tool, "-s", "1", "-s", ""}, 255, kLengthError, ""},
        {{tool, "x", "-s", "1"}, 46, kUsage, ""},
        {{tool, "-s", "1", "x"}, 0, "", Valid("1")},
        {{tool, "-s", "1", "-q"}, 46, kUsage, "quillet: illegal option -- q\n"},
        {{tool, "-s"}, 46, kUsage, "quillet: option requires an argument -- s\n"},
        {{tool, "-s1+2"}, 0, "", Valid("1+2")},
        {{tool, "-s", "1+"}, 46, "", Invalid(kBadSyntax, "1+")},
        {{tool, "-s", "1\n+2\\"}, 46, "", Invalid(kBadToken, "1\\n+2\\\\")},
        {{tool, "-s", "%s%n"}, 46, "", Invalid(kBadToken, "%s%n")},
        {{BIN_DIR "/quillet_failing_apr_pool_create_ex", "-s", "1+2"}, 46, "", ""},
        {{BIN_DIR "/quillet_failing_apr_getopt_init", "-s", "1+2"}, 46, "\n Create getopt error \n", ""},
        {{example, sample, "1=120", "2=14"}, 0, "postfix: {$1} 25 + 3 * 400 >= {$2} 7 % 0 == &&\nvalue: 1\n",
            Valid(sample)},
        {{example, "{$1} - 1", "1=-2147483648"}, 0, "postfix: {$1} 1 -\nvalue: 2147483647\n",
            Valid("{$1} - 1")},
        {{example, "{$3}", "1=1"}, 1, "postfix: {$3}\n",
            Valid("{$3}") + kError + "fail to get value for variable(3) \n"},
        {{example, "(1 + ) * 2"}, 1, "error at byte 5: operand expected\n(1 + ) * 2\n     ^\n",
            Invalid(kBadSyntax, "(1 + ) * 2")},
        {{example, "1\t\x7f x"}, 1, "error at byte 1: invalid token\n1?? x\n ^\n",
            Invalid(kBadToken, "1\\t\\x7f x")},
        {{example, ""}, 1, "error at byte 0: unexpected end\n\n^\n",
            Invalid(kError + "Invalid expression string to be analysed \n", "")},
        {{example}, 2, "", "eval_expression: missing EXPRESSION\n" + kExampleUsage},
        {{replay, "rules"}, 2, "", "usage: replay_rules RULES SAMPLES\n"},
        {{replay, "/nonexistent/r", "s"}, 2, "",
            "replay_rules: cannot read /nonexistent/r: No such file or directory\n"},
    };
    for (const char *variable : {"65536=1", "1=2147483648", "-1=1", "1=", "x"})
        rows.push_back({{example, "1", variable}, 2, "", kBadVariable + variable + "\n" + kExampleUsage});
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.argv));
        EXPECT_EQ(RunChild(row.argv), std::tie(row.status, row.out, row.err));
        if (row.argv[0] != tool && !row.err.empty() && row.err[0] != '[')  // an example's own texts
            continue;
        EXPECT_EQ(RunChild(row.argv, true), std::make_tuple(row.status, row.out, std::string()));
    }
}

// replay_rules over the files `rules` and `samples` of each row, written into a new directory that
// is the child's working directory. Catches lines miscounted or wrongly skipped, columns picked in
// the wrong order, counts or statuses wrong or not added up over blocks of samples, a missing column
// or malformed rule (one with a NUL byte too) not reported or stopping the run, a malformed samples
// line accepted, given the wrong line number or leaving output behind.
TEST(ChildProcess, ReplayRules)
{
    struct Case {
        std::string rules, samples;
        int status;
        std::string out, err;
    };
    using namespace std::string_literals;  // a rule with a NUL byte
    const std::string samples = "3 1 2\n60 85 3\n75 90 7\n0 70 2\n",
                      zero = kError + "Invalid expression with denominator 0 \n";
    std::string many = "1\n-2\n";  // samples of many blocks: -2, then -1, 0 and 1 in turn
    for (int i = 0; i < 99999; ++i)
        many += std::to_string(i % 3 - 1) + "\n";
    const std::vector<Case> cases = {
        {"# comment\n{$1} > 80 && {$2} < 5\n\n \t\n({$0001} - {$3}) * 100 / {$3} >= 20\n1 - 2", samples, 0,
            "rules:2: 1 true, 2 false, 0 failed\nrules:5: 2 true, 0 false, 1 failed\n"
            "rules:6: 3 true, 0 false, 0 failed\n",
            Valid("{$1} > 80 && {$2} < 5") + Valid("({$0001} - {$3}) * 100 / {$3} >= 20") + Valid("1 - 2") +
                zero},
        {"{$1} > 80 &&\n{$9} + {$0004} + {$1}\n1 +\0 2\n{$2}\n"s, samples, 1,
            "rules:1:13: error: unexpected end\n{$1} > 80 &&\n            ^\n"
            "rules:2: error: no column for variable 4\nrules:2: error: no column for variable 9\n"
            "rules:3:4: error: invalid token\n1 +? 2\n   ^\nrules:4: 3 true, 0 false, 0 failed\n",
            Invalid(kBadSyntax, "{$1} > 80 &&") + Valid("{$9} + {$0004} + {$1}") + Valid("{$2}")},
        {"1\n{$7}\n1 +", "1 2\n3 4\n5\n", 2, "",
            Valid("1") + Valid("{$7}") + Invalid(kBadSyntax, "1 +") +
                "samples:3: error: expected 2 values, got 1\n"},
        {"1", "1 2\n3 2147483648\n", 2, "",
            Valid("1") + "samples:2: error: field 2 is not a 32-bit decimal integer\n"},
        {"{$1} > 0\n8 / ({$1} + 2)", many, 0,
            "rules:1: 33333 true, 66667 false, 0 failed\nrules:2: 99999 true, 0 false, 1 failed\n",
            Valid("{$1} > 0") + Valid("8 / ({$1} + 2)") + zero},
        {"8 / ({$1} + 2)", many + "1 2\n", 2, "",
            Valid("8 / ({$1} + 2)") + zero + "samples:100002: error: expected 1 values, got 2\n"},
        {"1", "1 0001\n", 2, "", "samples:1: error: variable 1 has two columns\n"},
        {"1", "", 2, "", "samples:1: error: no variable numbers\n"},
    };
    const std::filesystem::path home = std::filesystem::current_path();
    std::string dir = (std::filesystem::temp_directory_path() / "replay_rules.XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    std::filesystem::current_path(dir);
    for (const Case &row : cases) {
        SCOPED_TRACE(testing::PrintToString(row.rules));
        std::ofstream("rules", std::ios::binary) << row.rules;
        std::ofstream("samples", std::ios::binary) << row.samples;
        EXPECT_EQ(
            RunChild({BIN_DIR "/replay_rules", "rules", "samples"}), std::tie(row.status, row.out, row.err));
    }
    std::filesystem::current_path(home);
    std::filesystem::remove_all(dir);
}

}  // namespace

namespace {

// Runs quillet-check in a new working directory holding the files `rules`
// and `old`, with `args` after the program's path.
std::tuple<int, std::string, std::string> RunCheck(
    const std::vector<std::string> &args, const std::string &rules, const std::string &old = "")
{
    const std::filesystem::path home = std::filesystem::current_path();
    std::string dir = (std::filesystem::temp_directory_path() / "quillet-check.XXXXXX").string();
    EXPECT_NE(mkdtemp(dir.data()), nullptr);
    std::filesystem::current_path(dir);
    std::ofstream("rules", std::ios::binary) << rules;
    std::ofstream("old", std::ios::binary) << old;
    std::vector<std::string> argv = {BIN_DIR "/quillet-check"};
    argv.insert(argv.end(), args.begin(), args.end());
    auto result = RunChild(argv);
    if (std::ifstream samples("samples"); samples)
        std::get<2>(result) += std::string(std::istreambuf_iterator<char>(samples), {});
    std::filesystem::current_path(home);
    std::filesystem::remove_all(dir);
    return result;
}

// Each row's ranges leave one witness for every question, so the lines are
// exact. Catches a line or warning misworded or missing, a directive of one
// file applied to the other, pairs miscounted, a malformed rule stopping
// the run, and a wrong exit status.
TEST(ChildProcess, QuilletCheck)
{
    const std::string ranges = "# range {$1} 7 8\n# range {$2} 5 5\n";
    const struct {
        std::vector<std::string> args;
        std::string rules, old;
        int status;
        std::string out, err;
    } rows[] = {
        {{"rules"}, ranges + "{$2} / ({$1} - 7)\n{$2} > 5\n{$2} == 5\n1 +\n5 / 0", "", 1,
            "rules:3: true [{$1}=8 {$2}=5]; false never; fails [{$1}=7 {$2}=5]\n"
            "rules:3: warning: may fail on [{$1}=7 {$2}=5]\n"
            "rules:4: true never; false [{$2}=5]; fails never\nrules:4: warning: never true\n"
            "rules:5: true [{$2}=5]; false never; fails never\nrules:5: warning: always true\n"
            "rules:6:4: error: unexpected end\n1 +\n   ^\n"
            "rules:7: true never; false never; fails []\nrules:7: warning: always fails\n",
            ""},
        {{"rules"}, ranges + "# {$1} == 7 is a comment\n{$1} == 7", "", 0,
            "rules:4: true [{$1}=7]; false [{$1}=8]; fails never\n", ""},
        {{"--against", "old", "rules"}, "# range {$1} 7 7\n{$2} * 2\n{$1} == 7\n1", "{$2} + {$2}\n{$1} == 8",
            1,
            "rules:2: same as old:1\nrules:3: differs from old:2 on [{$1}=7]\n"
            "rules:4: no rule to compare in old\n",
            ""},
        {{"--against", "old", "rules"}, "{$2} * 2", "{$2} << 1\n2", 1,
            "old:1:7: error: operand expected\n{$2} << 1\n      ^\nold:2: no rule to compare in rules\n", ""},
        {{"--against", "old", "rules"}, "{$1} > 5", "{$1} >= 6", 0, "rules:1: same as old:1\n", ""},
        {{"--samples", "samples", "rules"},
            "# range {$1} 3 4\n# range {$2} 0 1\n# range {$3} 11 11\n{$1} == 3 && {$3} == 11\n{$2} != 0", "",
            0,
            "rules:4: true [{$1}=3 {$3}=11]; false [{$1}=4 {$3}=11]; fails never\n"
            "rules:5: true [{$2}=1]; false [{$2}=0]; fails never\n",
            "1 2 3\n3 0 11\n4 0 11\n3 1 11\n3 0 11\n"},
        {{"rules"}, "{$1}\n# range {$1} 1\n", "", 2, "",
            "rules:2: error: a range directive is '# range {$N} LOW HIGH'\n"},
        {{"--against", "old", "rules"}, "1", "# range {$1} 2 1", 2, "",
            "old:1: error: LOW 2 is above HIGH 1\n"},
        {{"nothere"}, "", "", 2, "", "quillet-check: cannot read nothere: No such file or directory\n"},
        {{}, "", "", 2, "", "usage: quillet-check [--timeout-ms N] [--samples OUT] [--against OLD] RULES\n"},
        {{"--timeout-ms", "0", "rules"}, "", "", 2, "",
            "usage: quillet-check [--timeout-ms N] [--samples OUT] [--against OLD] RULES\n"},
        {{"rules", "old"}, "", "", 2, "",
            "usage: quillet-check [--timeout-ms N] [--samples OUT] [--against OLD] RULES\n"},
        {{"--timeout-ms", "5000", "rules"}, "", "", 0, "", ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.args) + " " + row.rules);
        EXPECT_EQ(RunCheck(row.args, row.rules, row.old), std::tie(row.status, row.out, row.err));
    }
}

// replay_rules over the samples quillet-check wrote shows each rule true and
// false at least once. Catches a witness lost, a sample whose columns are
// out of order, and a variable a rule does not read set outside its range.
TEST(ChildProcess, QuilletCheckSamplesReplay)
{
    const std::string rules = "# range {$3} 10 20\n{$1} > 80 && {$2} < 500\n{$3} * 100 / {$2} >= 20\n"
                              "{$1} % 7 == 3 || {$12} * 16 - {$3} != 70\n";
    const std::filesystem::path home = std::filesystem::current_path();
    std::string dir = (std::filesystem::temp_directory_path() / "quillet-check.XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    std::filesystem::current_path(dir);
    std::ofstream("rules", std::ios::binary) << rules;
    EXPECT_EQ(std::get<0>(RunChild({BIN_DIR "/quillet-check", "--samples", "samples", "rules"})), 1);
    const auto [status, out, err] = RunChild({BIN_DIR "/replay_rules", "rules", "samples"});
    std::ifstream samples("samples");
    std::string header;
    std::getline(samples, header);
    EXPECT_EQ(header, "1 2 3 12");
    for (long v1 = 0, v2 = 0, v3 = 0, v12 = 0; samples >> v1 >> v2 >> v3 >> v12;)
        EXPECT_TRUE(v3 >= 10 && v3 <= 20) << v3;
    std::filesystem::current_path(home);
    std::filesystem::remove_all(dir);
    EXPECT_EQ(status, 0);
    std::istringstream lines(out);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        // "rules:N: T true, F false, E failed"
        const size_t counts = line.find(": ") + 2;
        const unsigned long trueCount = std::stoul(line.substr(counts));
        const unsigned long falseCount = std::stoul(line.substr(line.find(", ") + 2));
        EXPECT_NE(line.find(" failed", counts), std::string::npos) << line;
        EXPECT_TRUE(trueCount > 0 && falseCount > 0) << line;
    }
    EXPECT_EQ(count, 3);
}

}  // namespace
