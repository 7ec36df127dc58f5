// A rules file as quillet-check reads it: one rule a line, and range
// directives that bound the variables of every rule in the file.
//
//   # range {$N} LOW HIGH
//
// A line is the bytes before a '\n', or after the last one if any are left;
// LINE counts every line from 1. Lines that are empty, all blanks (spaces and
// tabs) or start with '#' hold no rule. A '#' line whose first word after the
// '#' is "range" is a directive: {$N} names a variable as substitution reads
// its number ({$0099} is 99), LOW and HIGH are 32-bit decimals (an optional
// '-', then digits), LOW <= HIGH, and a variable has one range a file.
#ifndef QUILLET_CHECK_RULESFILE_H
#define QUILLET_CHECK_RULESFILE_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fernvault::alarm_manager {

// LOW <= value <= HIGH, both inclusive.
struct Range {
    int32_t low;
    int32_t high;
};

// Variable number to its range; a variable without one takes any value.
using RangeTable = std::map<uint16_t, Range>;

struct RuleLine {
    size_t line;  // 1-based
    std::string text;
};

struct RulesFile {
    std::vector<RuleLine> rules;  // in file order
    RangeTable ranges;
};

// Reads `text`, the bytes of the rules file `path`, into `file`. Returns ""
// when every directive is well formed, else the line
// "PATH:LINE: error: WHAT" of the first one that is not (no '\n').
std::string ParseRulesFile(const std::string &path, const std::string &text, RulesFile &file);

}  // namespace fernvault::alarm_manager

#endif  // QUILLET_CHECK_RULESFILE_H
