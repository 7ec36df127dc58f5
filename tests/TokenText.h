// Compact text forms of token lists for table-driven tests.
#ifndef QUILLET_TESTS_TOKENTEXT_H
#define QUILLET_TESTS_TOKENTEXT_H

#include <string>

#include "CExprUtil.h"

// "text/code" for each token, separated by blanks: "1/1 +/5 2/1".
std::string Describe(const fernvault::alarm_manager::TokenList &list);

// The token texts separated by blanks: "1 2 +".
std::string Texts(const fernvault::alarm_manager::TokenList &list);

// Builds a list from "text/code" items separated by blanks (Describe's form).
fernvault::alarm_manager::TokenList Parse(const std::string &described);

#endif  // QUILLET_TESTS_TOKENTEXT_H
