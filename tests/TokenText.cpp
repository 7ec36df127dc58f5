#include "TokenText.h"

#include <sstream>

using fernvault::alarm_manager::ExprToken;
using fernvault::alarm_manager::TokenList;

std::string Describe(const TokenList &list)
{
    std::string out;
    for (const ExprToken &token : list)
        out += (out.empty() ? "" : " ") + token.strToken + "/" + std::to_string(token.eTokenCode);
    return out;
}

std::string Texts(const TokenList &list)
{
    std::string out;
    for (const ExprToken &token : list)
        out += (out.empty() ? "" : " ") + token.strToken;
    return out;
}

TokenList Parse(const std::string &described)
{
    TokenList list;
    std::istringstream items(described);
    std::string item;
    while (items >> item) {
        const size_t slash = item.rfind('/');
        list.emplace_back(item.substr(0, slash), std::stoi(item.substr(slash + 1)));
    }
    return list;
}
