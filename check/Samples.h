// A samples file in the format replay_rules reads, made of witnesses: run
// over it, each rule meets every witness found for it.
#ifndef QUILLET_CHECK_SAMPLES_H
#define QUILLET_CHECK_SAMPLES_H

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "CRuleChecker.h"

namespace fernvault::alarm_manager {

// The text of a samples file: a header of `variables` ascending (variable 0
// alone when there are none, as the header needs one), then one line for
// each of `witnesses` in order. A variable a witness lacks is 0, or the LOW
// of its entry in `ranges` where 0 is outside it.
std::string SamplesText(
    const std::set<uint16_t> &variables, const std::vector<Assignment> &witnesses, const RangeTable &ranges);

}  // namespace fernvault::alarm_manager

#endif  // QUILLET_CHECK_SAMPLES_H
