#include "RulesFile.h"

#include <algorithm>
#include <charconv>
#include <system_error>

#include "TokenOperators.h"

namespace fernvault::alarm_manager {

namespace {

constexpr const char *kBlanks = " \t";

// The lines of `text`, as RulesFile.h defines them.
std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    for (size_t start = 0, end = 0; start < text.size(); start = end + 1) {
        end = std::min(text.find('\n', start), text.size());
        lines.emplace_back(text, start, end - start);
    }
    return lines;
}

// The blank-separated words of `line`.
std::vector<std::string> Words(const std::string &line)
{
    std::vector<std::string> words;
    for (size_t start = line.find_first_not_of(kBlanks); start != std::string::npos;
         start = line.find_first_not_of(kBlanks, start)) {
        const size_t end = std::min(line.find_first_of(kBlanks, start), line.size());
        words.push_back(line.substr(start, end - start));
        start = end;
    }
    return words;
}

bool ReadInt32Whole(const std::string &word, int32_t &value)
{
    const char *last = word.data() + word.size();
    const auto [end, error] = std::from_chars(word.data(), last, value);
    return !word.empty() && error == std::errc() && end == last;
}

// `word` as {$N}, N digits read as substitution reads them; false otherwise.
bool ReadVariable(const std::string &word, uint16_t &number)
{
    const bool framed = word.size() >= 3 && word.compare(0, 2, "{$") == 0 && word.back() == '}';
    const std::string digits = framed ? word.substr(2, word.size() - 3) : "";
    if (!framed || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    number = VariableNumber(digits);
    return true;
}

// What is wrong with the directive words after "range", or "" with the
// range entered into `ranges`; `lineOf` keeps where each range was given.
std::string ReadRange(const std::vector<std::string> &words, size_t line, RangeTable &ranges,
    std::map<uint16_t, size_t> &lineOf)
{
    if (words.size() != 4)
        return "a range directive is '# range {$N} LOW HIGH'";
    uint16_t variable = 0;
    if (!ReadVariable(words[1], variable))
        return "'" + words[1] + "' is not a variable {$N}";
    Range range{};
    if (!ReadInt32Whole(words[2], range.low))
        return "LOW '" + words[2] + "' is not a 32-bit decimal integer";
    if (!ReadInt32Whole(words[3], range.high))
        return "HIGH '" + words[3] + "' is not a 32-bit decimal integer";
    if (range.low > range.high)
        return "LOW " + words[2] + " is above HIGH " + words[3];
    const auto [given, fresh] = lineOf.emplace(variable, line);
    if (!fresh)
        return "{$" + std::to_string(variable) + "} has a range already, on line " +
            std::to_string(given->second);
    ranges[variable] = range;
    return "";
}

}  // namespace

std::string ParseRulesFile(const std::string &path, const std::string &text, RulesFile &file)
{
    const std::vector<std::string> lines = Lines(text);
    std::map<uint16_t, size_t> lineOf;
    for (size_t index = 0; index < lines.size(); ++index) {
        const std::string &line = lines[index];
        if (line.find_first_not_of(kBlanks) == std::string::npos)
            continue;
        if (line[0] != '#') {
            file.rules.push_back({index + 1, line});
            continue;
        }
        const std::vector<std::string> words = Words(line.substr(1));
        if (words.empty() || words[0] != "range")
            continue;
        const std::string problem = ReadRange(words, index + 1, file.ranges, lineOf);
        if (!problem.empty())
            return std::string(path)
                .append(":")
                .append(std::to_string(index + 1))
                .append(": error: ")
                .append(problem);
    }
    return "";
}

}  // namespace fernvault::alarm_manager
