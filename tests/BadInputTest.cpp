#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>

#include "ProcessRunner.h"

namespace {

// How the log writes `text` inside a record.
std::string Escaped(const std::string &text)
{
    std::string out;
    for (const unsigned char c : text) {
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        out += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\r' ? "\\r"
               : c < 0x20 || c == 0x7F ? hex : std::string(1, static_cast<char>(c));
    }
    return out;
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

// Every byte 1 to 255 at the start, middle and end of "1+2" (one test per
// place, so that they run side by side): the tool never crashes, prints
// nothing itself, exits 0 exactly when the byte is a digit or a blank and 46
// otherwise, and every record stays one line that names the expression
// escaped (so no byte can forge or split a record).
class EveryByte : public testing::TestWithParam<size_t> {};

TEST_P(EveryByte, KeepsStatusesAndRecords)
{
    const std::regex record(R"(\[(1 EError|5 ETrace)\] ALARM_MANAGER CExprUtil\.cpp:\d+: .* )");
    const size_t place = GetParam();
    for (int byte = 1; byte <= 255; ++byte) {
        std::string text = "1+2";
        text.insert(place, 1, static_cast<char>(byte));
        SCOPED_TRACE("byte " + std::to_string(byte));
        const bool valid = (byte >= '0' && byte <= '9') || byte == ' ';
        const ProcessResult result = RunProcess({QUILLET_BIN, "-s", text});
        ASSERT_EQ(result.status, valid ? 0 : 46) << result.err;
        EXPECT_EQ(result.out, "");
        ASSERT_TRUE(!result.err.empty() && result.err.back() == '\n') << result.err;
        const std::vector<std::string> lines = Lines(result.err);
        size_t errors = 0;
        for (const std::string &line : lines) {
            EXPECT_TRUE(std::regex_match(line, record)) << line;
            errors += line.compare(0, 10, "[1 EError]") == 0;
        }
        EXPECT_EQ(errors, valid ? 0u : 2u);
        EXPECT_LE(lines.size(), 3u);
        const std::string verdict = valid ? "Valid" : "Invalid";
        EXPECT_EQ(lines.back().substr(lines.back().find(": ") + 2),
                  verdict + " expression : " + Escaped(text) + " ");
    }
}

INSTANTIATE_TEST_SUITE_P(StartMiddleEnd, EveryByte, testing::Values(0, 1, 3));

// The longest argument a process can be given is refused like a 100-byte one.
TEST(BadInput, LongestArgumentIsALengthError)
{
    const ProcessResult result = RunProcess({QUILLET_BIN, "-s", std::string(131071, '1')});
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.out, "error input for expression string (len should in (0,100) )!\n");
    EXPECT_EQ(result.err, "");
}

// When APR cannot give the front end its pool or its option parser, the tool
// ends with 46, printing only what belongs to that failure.
TEST(BadInput, AprFailuresEndWithStatus46)
{
    const struct {
        const char *fault;
        const char *out;
    } rows[] = {
        {"apr_pool_create_ex", ""},
        {"apr_getopt_init", "\n Create getopt error \n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.fault);
        setenv("QUILLET_APR_FAULT", row.fault, 1);
        const ProcessResult result = RunProcess({QUILLET_APR_FAULTS_BIN, "-s", "1+2"});
        unsetenv("QUILLET_APR_FAULT");
        EXPECT_EQ(result.status, 46);
        EXPECT_EQ(result.out, row.out);
        EXPECT_EQ(result.err, "");
    }
}

}  // namespace
