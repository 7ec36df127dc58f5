// From a postfix list to a tree of specialised nodes (CompiledNodes.h).
// Private: not installed.
#ifndef QUILLET_EXPR_TREEBUILDER_H
#define QUILLET_EXPR_TREEBUILDER_H

#include <cstdint>
#include <vector>

#include "CExprUtil.h"
#include "CompiledNodes.h"

namespace fernvault::alarm_manager::compiled {

// Computing a node calls its operand nodes: no node is more than this many
// above the slots and constants it reads, so the call stack stays small.
constexpr uint32_t kMaxHeight = 100;

// The tree of a list: its nodes, each after its operand nodes, the root
// last. A tree higher than kMaxHeight is cut into segments: a segment's root
// is computed into a slot of its own, after the variables' slots, which the
// nodes above read as they read a variable.
struct Tree {
    std::vector<Node> nodes;
    std::vector<Step> steps;  // the segments', in the order the root needs them; none for a low tree
    uint32_t slots = 0;       // the variables' slots and the segments'
    bool canFail = false;     // whether computing the root may divide by zero
};

// Builds the tree of `postfix`, in which variable number variables[i]
// (ascending, distinct, each that the list names) is slot i, into `tree`
// and returns true; returns false, with `tree` empty, for a list that is not
// one expression. Computing the tree (the steps, then the root) gives what
// EvaluatePostfix gives on the list, statuses included. Uses no recursion.
bool BuildTree(const TokenList &postfix, const std::vector<uint16_t> &variables, Tree &tree);

}  // namespace fernvault::alarm_manager::compiled

#endif  // QUILLET_EXPR_TREEBUILDER_H
