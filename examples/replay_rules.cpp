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
// such variable, ascending. The library reads an expression up to a NUL
// byte, so a rule holding one is judged here, without records.
//
// RULES is read whole, SAMPLES once, front to back (a pipe will do): its
// header, then every rule is verified and compiled, then the samples are
// run in blocks of rows, every rule over a block before the next block is
// read. Memory depends on the rules and the columns, not on the number of
// samples. Standard error gets the library's log records in that order:
// each rule's verification, then one record for each failed sample.
// Standard output, one line or group a rule in rule order (results and rule
// errors alike), is written once the last sample was read.
//
// Exit status 0 when every rule is well formed and has its columns, 1
// otherwise (after every rule ran), 2 for a usage error, a file that cannot
// be read or a malformed samples line (`SAMPLES:LINE: error: ...`). Those
// are said on standard error after the records that came before them (none
// for the header, read before any rule is verified), and standard output
// stays empty.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
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

// A block holds at most this many rows and, unless one row is more, this
// many values: a few hundred kilobytes whatever the columns.
constexpr size_t kBlockRows = 4096;
constexpr size_t kBlockValues = size_t{1} << 16;

int CannotRead(const char *path, int error)
{
    (void)std::fprintf(stderr, "replay_rules: cannot read %s: %s\n", path, std::strerror(error));
    return 2;
}

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

bool IsBlank(int byte)
{
    return byte == ' ' || byte == '\t';
}

// A samples field taken a byte at a time, in constant space however long it
// is: whether it is an optional '-' then digits, and its magnitude, which
// stops growing once past every 32-bit value.
class CField {
public:
    void Add(char byte)
    {
        constexpr uint64_t kBeyond = uint64_t{1} << 32;
        const bool digit = byte >= '0' && byte <= '9';
        const bool sign = byte == '-' && !started_;
        if (digit)
            magnitude_ = std::min(magnitude_ * 10 + static_cast<uint64_t>(byte - '0'), kBeyond);
        negative_ = negative_ || sign;
        digits_ = digits_ || digit;
        wellFormed_ = wellFormed_ && (digit || sign);
        started_ = true;
    }

    // False unless the field is a decimal T; an unsigned T takes no '-'.
    template <typename T> bool Read(T &value) const
    {
        if (!wellFormed_ || !digits_ || (negative_ && !std::is_signed_v<T>))
            return false;
        const int64_t number =
            negative_ ? -static_cast<int64_t>(magnitude_) : static_cast<int64_t>(magnitude_);
        if (number < int64_t{std::numeric_limits<T>::min()} ||
            number > int64_t{std::numeric_limits<T>::max()})
            return false;
        value = static_cast<T>(number);
        return true;
    }

private:
    bool started_ = false;
    bool negative_ = false;
    bool digits_ = false;
    bool wellFormed_ = true;
    uint64_t magnitude_ = 0;
};

enum ESampleRead { ESample, EEndOfSamples, ESamplesFailed };

// Reads SAMPLES front to back from `file` (a pipe will do), one thread
// only, keeping one field at a time, and says on standard error once what makes it
// unusable: a malformed line or a read error. `path` names the file in what
// it says and must outlive the reader.
class CSampleReader {
public:
    CSampleReader(const char *path, std::FILE *file)
        : path_(path)
        , file_(file)
    {
    }

    // Reads the header into `columnOf`, variable number to column; false
    // after saying what is wrong with it.
    bool ReadHeader(std::map<uint16_t, size_t> &columnOf)
    {
        (void)StartLine();
        line_ = 1;  // an empty file has an empty header
        const std::string problem = ReadColumns(columnOf);
        if (problem.empty())
            return true;
        Say(problem);
        return false;
    }

    // Appends the next sample, `columns` values, to `values`. At the end of
    // the file or a failure `values` may hold part of a sample.
    ESampleRead ReadSample(size_t columns, std::vector<int32_t> &values)
    {
        const bool started = StartLine();
        const std::string problem = started ? ReadValues(columns, values) : "";
        if (problem.empty() && std::ferror(file_) == 0)
            return started ? ESample : EEndOfSamples;
        Say(problem);
        return ESamplesFailed;
    }

private:
    int Next()
    {
        const int byte = getc_unlocked(file_);  // one thread reads: no lock a byte
        if (byte == EOF)
            error_ = errno;  // kept for a read error; ferror tells which
        return byte;
    }

    // Moves to the next line; false at the end of the file.
    bool StartLine()
    {
        const int byte = fileOver_ ? EOF : Next();
        if (byte == EOF) {
            fileOver_ = true;
            return false;
        }
        (void)std::ungetc(byte, file_);  // one byte back always succeeds
        ++line_;
        lineOver_ = false;
        return true;
    }

    // Reads the line's next field into `field`; false at the line's end.
    bool NextField(CField &field)
    {
        if (lineOver_ || fileOver_)
            return false;
        int byte = Next();
        while (IsBlank(byte))
            byte = Next();
        const bool found = byte != '\n' && byte != EOF;
        field = CField();
        for (; !IsBlank(byte) && byte != '\n' && byte != EOF; byte = Next())
            field.Add(static_cast<char>(byte));
        lineOver_ = byte == '\n' || byte == EOF;
        fileOver_ = byte == EOF;
        return found;
    }

    // What is wrong with the header's variable numbers, or "" with them read.
    std::string ReadColumns(std::map<uint16_t, size_t> &columnOf)
    {
        CField field;
        for (size_t column = 0; NextField(field); ++column) {
            uint16_t number = 0;
            if (!field.Read(number))
                return "field " + std::to_string(column + 1) + " is not a variable number from 0 to 65535";
            if (!columnOf.emplace(number, column).second)
                return "variable " + std::to_string(number) + " has two columns";
        }
        return columnOf.empty() ? "no variable numbers" : "";
    }

    // What is wrong with the line's values, or "" with them appended.
    std::string ReadValues(size_t columns, std::vector<int32_t> &values)
    {
        CField field;
        size_t count = 0;
        for (; NextField(field); ++count) {
            int32_t value = 0;
            if (!field.Read(value))
                return "field " + std::to_string(count + 1) + " is not a 32-bit decimal integer";
            if (count < columns)
                values.push_back(value);
        }
        if (count != columns)
            return "expected " + std::to_string(columns) + " values, got " + std::to_string(count);
        return "";
    }

    // Says what is wrong with the line, or the read error that may have cut
    // it short.
    void Say(const std::string &problem) const
    {
        if (std::ferror(file_) != 0)
            (void)CannotRead(path_, error_);
        else
            (void)std::fprintf(stderr, "%s:%" PRIu64 ": error: %s\n", path_, line_, problem.c_str());
    }

    const char *path_;
    std::FILE *file_;
    uint64_t line_ = 0;  // neither it nor a count wraps, however long a pipe runs
    bool lineOver_ = true;
    bool fileOver_ = false;
    int error_ = 0;
};

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

// A rule of RULES: compiled, with the sample column of each slot and its
// counts so far, or the lines saying why it cannot run.
struct Rule {
    std::string prefix;  // "RULES:LINE"
    std::optional<CCompiledExpr> compiled;
    std::vector<size_t> columns;
    std::array<uint64_t, 3> counts{};  // true, false, failed
    std::string errors;                // when not compiled
};

// The rule `text` on line `number` of RULES file `path`, verified (its
// records logged) and compiled against the samples' columns `columnOf`.
Rule Compile(
    const char *path, size_t number, const std::string &text, const std::map<uint16_t, size_t> &columnOf)
{
    Rule rule;
    rule.prefix = std::string(path) + ":" + std::to_string(number);
    TokenList list;
    const ErrorLocation where = Verify(text, list);
    if (where.eReason != EWellFormed) {
        rule.errors = rule.prefix + ":" + std::to_string(where.offset + 1) +
            ": error: " + CExprUtil::ReasonText(where.eReason) + "\n" +
            CaretLines(text.data(), text.size(), where.offset);
        return rule;
    }
    CCompiledExpr compiled(list);
    for (const uint16_t variable : compiled.GetVariables()) {
        const auto found = columnOf.find(variable);
        if (found != columnOf.end())
            rule.columns.push_back(found->second);
        else
            rule.errors += rule.prefix + ": error: no column for variable " + std::to_string(variable) + "\n";
    }
    if (rule.errors.empty())
        rule.compiled.emplace(std::move(compiled));
    return rule;
}

// Buffers reused from block to block.
struct Scratch {
    std::vector<int32_t> rows;
    std::vector<int32_t> results;
    std::vector<int> statuses;
};

// Runs compiled `rule` over the `block` of samples, `columns` values a row,
// and adds to its counts.
void Count(Rule &rule, const std::vector<int32_t> &block, size_t columns, Scratch &scratch)
{
    const size_t count = block.size() / columns;
    scratch.rows.clear();  // the block cut down to the rule's columns, in slot order
    for (size_t start = 0; start < block.size(); start += columns)
        for (const size_t column : rule.columns)
            scratch.rows.push_back(block[start + column]);
    scratch.results.resize(count);
    scratch.statuses.resize(count);
    rule.compiled->EvaluateRows(
        scratch.rows.data(), rule.columns.size(), count, scratch.results.data(), scratch.statuses.data());
    for (size_t row = 0; row < count; ++row)
        ++rule.counts[scratch.statuses[row] != 0 ? 2 : scratch.results[row] != 0 ? 0 : 1];
}

// Runs every compiled rule over the samples after the header, `columns`
// values each, a block at a time; false after `samples` said what failed.
bool Replay(CSampleReader &samples, size_t columns, std::vector<Rule> &rules)
{
    const size_t blockRows = std::clamp<size_t>(kBlockValues / columns, 1, kBlockRows);
    std::vector<int32_t> block;
    Scratch scratch;
    for (ESampleRead read = ESample; read == ESample;) {
        block.clear();
        size_t rows = 0;
        while (rows < blockRows && (read = samples.ReadSample(columns, block)) == ESample)
            ++rows;
        if (read == ESamplesFailed)
            return false;
        for (Rule &rule : rules)
            if (rule.compiled && rows > 0)
                Count(rule, block, columns, scratch);
    }
    return true;
}

struct FileCloser {
    void operator()(std::FILE *file) const { (void)std::fclose(file); }  // only read from
};

}  // namespace

int main(int argc, char *argv[])
{
    if (argc != 3) {
        (void)std::fputs("usage: replay_rules RULES SAMPLES\n", stderr);
        return 2;
    }
    std::string rulesText;
    if (!ReadFile(argv[1], rulesText))
        return CannotRead(argv[1], errno);
    const std::unique_ptr<std::FILE, FileCloser> samplesFile(std::fopen(argv[2], "rb"));
    if (!samplesFile)
        return CannotRead(argv[2], errno);
    CSampleReader samples(argv[2], samplesFile.get());
    std::map<uint16_t, size_t> columnOf;
    if (!samples.ReadHeader(columnOf))
        return 2;

    std::vector<Rule> rules;
    const std::vector<std::string> lines = Lines(rulesText);
    for (size_t line = 0; line < lines.size(); ++line)
        if (lines[line].find_first_not_of(kBlanks) != std::string::npos && lines[line][0] != '#')
            rules.push_back(Compile(argv[1], line + 1, lines[line], columnOf));
    if (!Replay(samples, columnOf.size(), rules))
        return 2;

    bool clean = true;
    for (const Rule &rule : rules) {
        if (rule.compiled)
            std::printf("%s: %" PRIu64 " true, %" PRIu64 " false, %" PRIu64 " failed\n", rule.prefix.c_str(),
                rule.counts[0], rule.counts[1], rule.counts[2]);
        else
            (void)std::fputs(rule.errors.c_str(), stdout);
        clean = clean && rule.compiled.has_value();
    }
    return clean ? 0 : 1;
}
