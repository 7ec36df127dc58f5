// Compact text forms of token lists for table-driven tests.
#ifndef QUILLET_TESTS_TOKENTEXT_H
#define QUILLET_TESTS_TOKENTEXT_H

#include <sstream>
#include <string>

#include "CExprUtil.h"

// "text/code" for each token, separated by blanks ("1/1 +/5 2/1"), or the
// texts alone ("1 + 2").
inline std::string Describe(const fernvault::alarm_manager::TokenList &list, bool codes = true)
{
    std::string out;
    for (const auto &token : list)
        out += (out.empty() ? "" : " ") + token.strToken +
               (codes ? "/" + std::to_string(token.eTokenCode) : "");
    return out;
}

// Builds a list from Describe's "text/code" form.
inline fernvault::alarm_manager::TokenList Parse(const std::string &described)
{
    fernvault::alarm_manager::TokenList list;
    std::istringstream items(described);
    for (std::string item; items >> item;) {
        const size_t slash = item.rfind('/');
        list.emplace_back(item.substr(0, slash), std::stoi(item.substr(slash + 1)));
    }
    return list;
}

#endif  // QUILLET_TESTS_TOKENTEXT_H
