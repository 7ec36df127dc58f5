// From a postfix list to a tree of specialised nodes (CompiledNodes.h).
// Private: not installed.
#ifndef QUILLET_EXPR_TREEBUILDER_H
#define QUILLET_EXPR_TREEBUILDER_H

#include <cstdint>
#include <vector>

#include "CompiledNodes.h"
#include "Evaluation.h"

namespace fernvault::alarm_manager::compiled {

// Computing a node calls its operand nodes, so no tree is built higher than
// this: the call stack stays small whatever the list.
constexpr uint32_t kMaxHeight = 100;

// The tree of a list: its nodes in postfix order, each after its operand
// nodes, the root last.
struct Tree {
    std::vector<Node> nodes;
    bool canFail = false;  // whether computing the root may divide by zero
};

// Builds the tree of `entries`, a postfix list whose variables are slots,
// into `tree` and returns true; returns false, with `tree` empty, for a list
// that is not one expression or whose tree would be higher than kMaxHeight.
//
// Computing the tree gives what the stack engine gives on the list,
// statuses included: constant work is done once where no division by zero
// that may run is lost; a comparison with a constant becomes a test, which
// && and || fuse; an operand whose value is known to be 0 or 1, or not 0,
// lets the operator that takes it fold away, provided that nothing it drops
// can fail. Uses no recursion.
bool BuildTree(const std::vector<evaluation::PostfixEntry> &entries, Tree &tree);

}  // namespace fernvault::alarm_manager::compiled

#endif  // QUILLET_EXPR_TREEBUILDER_H
