// Verifies and evaluates one expression through the installed library and
// prints its value; the library's records go to standard error.
#include <cstdio>

#include "CExprUtil.h"

int main()
{
    using fernvault::alarm_manager::CExprUtil;
    fernvault::alarm_manager::TokenList list;
    int32_t value = 0;
    if (CExprUtil::VerifyExpression(list, "({$1} + 2) * 3") != 0 ||
        CExprUtil::EvaluatePostfix(list, {{1, 5}}, value) != 0)
        return 1;
    std::printf("%d\n", static_cast<int>(value));
    return 0;
}
