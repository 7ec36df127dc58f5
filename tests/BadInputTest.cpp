#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>

#include "ProcessRunner.h"

namespace {

// quillet -s `text` prints nothing itself and exits 0 when `valid`, else 46.
// Its records are whole lines, the verdict last, naming the expression as
// `shown`: no byte can forge, split or cut a record.
void ExpectVerdict(const std::string &text, bool valid, const std::string &shown)
{
    static const std::string kRecord = R"( ALARM_MANAGER CExprUtil\.cpp:\d+: [^\n]*\n)";
    static const std::regex kValid("(\\[5 ETrace\\]" + kRecord + "){3}");
    static const std::regex kInvalid("(\\[5 ETrace\\]" + kRecord + ")?(\\[1 EError\\]" + kRecord +
                                     "){2}");
    const ProcessResult result = RunProcess({QUILLET_BIN, "-s", text});
    ASSERT_EQ(result.status, valid ? 0 : 46) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(std::regex_match(result.err, valid ? kValid : kInvalid)) << result.err;
    const std::string verdict =
        std::string(valid ? ": Valid" : ": Invalid") + " expression : " + shown + " \n";
    const size_t length = std::min(result.err.size(), verdict.size());
    EXPECT_EQ(result.err.substr(result.err.size() - length), verdict);
}

// Every byte 1 to 255 at the start, middle and end of "1+2" (one test per
// place, so that they run side by side): valid exactly when it is a digit or
// a blank, and written escaped when it is a control byte, a backslash, or
// from 0x80 up (alone, never valid UTF-8).
class EveryByte : public testing::TestWithParam<size_t> {};

TEST_P(EveryByte, KeepsStatusesAndRecords)
{
    for (int byte = 1; byte <= 255; ++byte) {
        SCOPED_TRACE("byte " + std::to_string(byte));
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", byte);
        const std::string escaped = byte == '\\' ? "\\\\" : byte == '\n' ? "\\n"
                                    : byte == '\t' ? "\\t" : byte == '\r' ? "\\r"
                                    : byte < 0x20 || byte >= 0x7F ? hex
                                    : std::string(1, static_cast<char>(byte));
        std::string text = "1+2", shown = "1+2";
        text.insert(GetParam(), 1, static_cast<char>(byte));
        shown.insert(GetParam(), escaped);
        ExpectVerdict(text, (byte >= '0' && byte <= '9') || byte == ' ', shown);
    }
}

INSTANTIATE_TEST_SUITE_P(StartMiddleEnd, EveryByte, testing::Values(0, 1, 3));

// printf directives in the expression are text, never applied.
TEST(BadInput, FormatDirectivesStayLiteral)
{
    ExpectVerdict("%s%n", false, "%s%n");
}

// When APR cannot give the front end its pool or its option parser, the tool
// ends with 46, printing only what belongs to that failure.
TEST(BadInput, AprFailuresEndWithStatus46)
{
    const std::pair<const char *, const char *> rows[] = {
        {"apr_pool_create_ex", ""}, {"apr_getopt_init", "\n Create getopt error \n"}};
    for (const auto &[fault, out] : rows) {
        SCOPED_TRACE(fault);
        setenv("QUILLET_APR_FAULT", fault, 1);
        const ProcessResult result = RunProcess({QUILLET_APR_FAULTS_BIN, "-s", "1+2"});
        unsetenv("QUILLET_APR_FAULT");
        EXPECT_EQ(result.status, 46);
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.err, "");
    }
}

}  // namespace
