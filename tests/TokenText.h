// Token lists as text for table-driven tests: "1/1 +/5 2/1", each token's
// text and code, or "1 + 2", the texts alone.
#ifndef QUILLET_TESTS_TOKENTEXT_H
#define QUILLET_TESTS_TOKENTEXT_H

#include <sstream>

#include "CExprUtil.h"

inline std::string Describe(const fernvault::alarm_manager::TokenList &list, bool codes = true)
{
    std::string out;
    for (const auto &token : list)
        out += (out.empty() ? "" : " ") + token.strToken + (codes ? "/" + std::to_string(token.eTokenCode) : "");
    return out;
}

inline fernvault::alarm_manager::TokenList Parse(const std::string &described)
{
    fernvault::alarm_manager::TokenList list;
    std::istringstream items(described);
    for (std::string item; items >> item;)
        list.emplace_back(item.substr(0, item.rfind('/')), std::stoi(item.substr(item.rfind('/') + 1)));
    return list;
}

#endif  // QUILLET_TESTS_TOKENTEXT_H
