#include "Samples.h"

#include <algorithm>

namespace fernvault::alarm_manager {

namespace {

// What a sample gives `variable` when no witness names it.
int32_t Filler(uint16_t variable, const RangeTable &ranges)
{
    const auto range = ranges.find(variable);
    if (range == ranges.end() || (range->second.low <= 0 && 0 <= range->second.high))
        return 0;
    return range->second.low;
}

std::string Line(const std::vector<std::string> &fields)
{
    std::string line;
    for (const std::string &field : fields)
        line += (line.empty() ? "" : " ") + field;
    return line + "\n";
}

}  // namespace

std::string SamplesText(
    const std::set<uint16_t> &variables, const std::vector<Assignment> &witnesses, const RangeTable &ranges)
{
    const std::set<uint16_t> columns = variables.empty() ? std::set<uint16_t>{0} : variables;
    std::vector<std::string> header;
    header.reserve(columns.size());
    for (const uint16_t variable : columns)
        header.push_back(std::to_string(variable));
    std::string text = Line(header);
    for (const Assignment &witness : witnesses) {
        std::vector<std::string> fields;
        fields.reserve(columns.size());
        for (const uint16_t variable : columns) {
            const auto named = std::find_if(witness.begin(), witness.end(),
                [variable](const std::pair<uint16_t, int32_t> &entry) { return entry.first == variable; });
            fields.push_back(
                std::to_string(named != witness.end() ? named->second : Filler(variable, ranges)));
        }
        text += Line(fields);
    }
    return text;
}

}  // namespace fernvault::alarm_manager
