// replay_rules RULES SAMPLES
//
// Runs every rule of RULES over every sample of SAMPLES, as one would before
// deploying new alarm rules, and prints for each rule how many samples made
// it true (status 0, result not 0), false (status 0, result 0) or fail:
//
//   RULES:LINE: T true, F false, E failed
//
// A line is the bytes before a '\n', or after the last one if any are left;
// a file ending in '\n' has no empty line after it. Blanks are spaces and
// tabs (an expression allows spaces only). RULES holds one expression a line;
// lines that are empty, all blanks or start with '#' are skipped, and LINE
// counts every line from 1. SAMPLES starts with a header line of the
// columns' variable numbers: at least one, distinct, 0 to 65535 (`1 2 3 12`).
// Every later line is one sample: exactly as many decimal integers that fit
// in 32 bits (an optional '-', then digits), with blanks between them and
// around them. Any other samples line is malformed.
//
// A malformed rule prints `RULES:LINE:COL: error: REASON` (COL the 1-based
// byte), the rule and a caret under that byte. A rule naming a variable with
// no column prints `RULES:LINE: error: no column for variable N` for each
// such variable, ascending. Results and rule errors go to standard output,
// the library's log records to standard error (each rule's verification,
// one record for each failed sample). The library reads an expression up to
// a NUL byte, so a rule holding one is judged here, without records.
//
// Exit status 0 when every rule is well formed and has its columns, 1
// otherwise (after every rule ran), 2 for a usage error, a file that cannot
// be read or a malformed samples line (`SAMPLES:LINE: error: ...`), said on
// standard error before any rule runs.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "CCompiledExpr.h"
#include "CExprUtil.h"
#include "ExampleUtil.h"

using fernvault::alarm_manager::CCompiledExpr;
using fernvault::alarm_manager::CExprUtil;
using fernvault::alarm_manager::EInvalidToken;
using fernvault::alarm_manager::ErrorLocation;
using fernvault::alarm_manager::EWellFormed;
using fernvault::alarm_manager::TokenList;

namespace {

constexpr const char *kBlanks = " \t";

// The samples: the header's variables and the values, one row a sample.
struct Samples {
    std::map<uint16_t, size_t> columnOf;  // variable number to column
    size_t columns = 0;
    size_t rows = 0;
    std::vector<int32_t> values;  // row-major, `columns` a row
};

// All of file `path` in `text`; false with errno set if it cannot be read.
bool ReadFile(const char *path, std::string &text)
{
    std::FILE *file = std::fopen(path, "rb");
    if (file == nullptr)
        return false;
    constexpr size_t kChunk = 4096;
    std::array<char, kChunk> buffer{};
    for (size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0;)
        text.append(buffer.data(), got);
    const bool failed = std::ferror(file) != 0;
    const int error = errno;
    (void)std::fclose(file);  // only read from: nothing is lost if closing fails
    errno = error;
    return !failed;
}

// The lines of `text`, as the top of this file defines them.
std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    for (size_t start = 0, end = 0; start < text.size(); start = end + 1) {
        end = std::min(text.find('\n', start), text.size());
        lines.emplace_back(text, start, end - start);
    }
    return lines;
}

// The runs of bytes other than blanks in `line`.
std::vector<std::string_view> Fields(std::string_view line)
{
    std::vector<std::string_view> fields;
    for (size_t start = 0, end = 0; (start = line.find_first_not_of(kBlanks, end)) != std::string::npos;) {
        end = std::min(line.find_first_of(kBlanks, start), line.size());
        fields.push_back(line.substr(start, end - start));
    }
    return fields;
}

template <typename T> bool ReadField(std::string_view field, T &value)
{
    return ReadWhole(field.data(), field.data() + field.size(), value);
}

bool SamplesError(const char *path, size_t line, const std::string &message)
{
    (void)std::fprintf(stderr, "%s:%zu: error: %s\n", path, line, message.c_str());
    return false;
}

// Reads `text`, the contents of SAMPLES file `path`, into `samples`; false
// after saying on standard error which line is malformed.
bool ReadSamples(const char *path, const std::string &text, Samples &samples)
{
    std::vector<std::string> lines = Lines(text);
    lines.resize(std::max<size_t>(lines.size(), 1));  // an empty file has an empty header
    const std::vector<std::string_view> header = Fields(lines[0]);
    if (header.empty())
        return SamplesError(path, 1, "no variable numbers");
    for (size_t column = 0; column < header.size(); ++column) {
        uint16_t number = 0;
        if (!ReadField(header[column], number))
            return SamplesError(
                path, 1, "field " + std::to_string(column + 1) + " is not a variable number from 0 to 65535");
        if (!samples.columnOf.emplace(number, column).second)
            return SamplesError(path, 1, "variable " + std::to_string(number) + " has two columns");
    }
    samples.columns = header.size();
    samples.rows = lines.size() - 1;
    samples.values.reserve(samples.rows * samples.columns);
    for (size_t line = 1; line < lines.size(); ++line) {
        const std::vector<std::string_view> fields = Fields(lines[line]);
        for (size_t column = 0; column < fields.size(); ++column) {
            int32_t value = 0;
            if (!ReadField(fields[column], value))
                return SamplesError(path, line + 1,
                    "field " + std::to_string(column + 1) + " is not a 32-bit decimal integer");
            samples.values.push_back(value);
        }
        if (fields.size() != samples.columns)
            return SamplesError(path, line + 1,
                "expected " + std::to_string(samples.columns) + " values, got " +
                    std::to_string(fields.size()));
    }
    return true;
}

// Where `rule` first goes wrong. The library reads an expression up to its
// first NUL byte; a NUL starts no token, so it is where a rule holding one
// goes wrong unless an invalid token comes before it.
ErrorLocation Verify(const std::string &rule, TokenList &list)
{
    const size_t nul = rule.find('\0');
    if (nul == std::string::npos && CExprUtil::VerifyExpression(list, rule.c_str()) == 0)
        return {EWellFormed, 0};
    const ErrorLocation where = CExprUtil::LocateError(rule.c_str());
    return nul == std::string::npos || where.eReason == EInvalidToken ? where
                                                                      : ErrorLocation{EInvalidToken, nul};
}

// Runs the rule on line `number` of RULES file `path` over `samples` and
// prints its counts or errors; false if it is malformed or lacks a column.
bool Replay(const char *path, size_t number, const std::string &rule, const Samples &samples)
{
    TokenList list;
    const ErrorLocation where = Verify(rule, list);
    if (where.eReason != EWellFormed) {
        std::printf(
            "%s:%zu:%zu: error: %s\n", path, number, where.offset + 1, CExprUtil::ReasonText(where.eReason));
        (void)std::fputs(CaretLines(rule.data(), rule.size(), where.offset).c_str(), stdout);
        return false;
    }
    const CCompiledExpr compiled(list);
    std::vector<size_t> columns;  // the column of each slot
    for (const uint16_t variable : compiled.GetVariables()) {
        const auto found = samples.columnOf.find(variable);
        if (found != samples.columnOf.end())
            columns.push_back(found->second);
        else
            std::printf("%s:%zu: error: no column for variable %u\n", path, number, unsigned{variable});
    }
    if (columns.size() != compiled.GetVariables().size())
        return false;

    // The samples cut down to the rule's columns, in slot order.
    const size_t stride = columns.size();
    std::vector<int32_t> rows(samples.rows * stride);
    for (size_t row = 0; row < samples.rows; ++row)
        for (size_t slot = 0; slot < stride; ++slot)
            rows[row * stride + slot] = samples.values[row * samples.columns + columns[slot]];
    std::vector<int32_t> results(samples.rows);
    std::vector<int> statuses(samples.rows);
    compiled.EvaluateRows(rows.data(), stride, samples.rows, results.data(), statuses.data());
    std::array<size_t, 3> counts{};  // true, false, failed
    for (size_t row = 0; row < samples.rows; ++row)
        ++counts[statuses[row] != 0 ? 2 : results[row] != 0 ? 0 : 1];
    std::printf("%s:%zu: %zu true, %zu false, %zu failed\n", path, number, counts[0], counts[1], counts[2]);
    return true;
}

}  // namespace

int main(int argc, char *argv[])
{
    if (argc != 3) {
        (void)std::fputs("usage: replay_rules RULES SAMPLES\n", stderr);
        return 2;
    }
    std::array<std::string, 2> texts;
    for (int i = 0; i < 2; ++i)
        if (!ReadFile(argv[i + 1], texts[i])) {
            (void)std::fprintf(
                stderr, "replay_rules: cannot read %s: %s\n", argv[i + 1], std::strerror(errno));
            return 2;
        }
    Samples samples;
    if (!ReadSamples(argv[2], texts[1], samples))
        return 2;

    bool clean = true;
    const std::vector<std::string> lines = Lines(texts[0]);
    for (size_t line = 0; line < lines.size(); ++line) {
        const std::string &rule = lines[line];
        if (rule.find_first_not_of(kBlanks) != std::string::npos && rule[0] != '#')
            clean = Replay(argv[1], line + 1, rule, samples) && clean;
    }
    return clean ? 0 : 1;
}
