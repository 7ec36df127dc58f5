// Arbitrary token lists and variable tables into SubstituteVariables,
// EvaluatePostfix and CCompiledExpr: a failure is 20014 with the result 0,
// and the compiled form answers exactly as EvaluatePostfix does.
//
// Input: byte 0 holds the table size (low 3 bits) and the mode (bit 3), then
// 6 bytes per table entry: variable number (2), value (4). In text mode the
// rest is an expression, evaluated if it verifies; else it is a token list,
// per token a code byte (code = byte % 16 - 2, outside the valid codes too),
// a length byte (% 8) and the text.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CCompiledExpr.h"

using namespace fernvault::alarm_manager;

// A broken invariant stops the run; libFuzzer keeps the input.
#define REQUIRE(holds) \
    ((holds) ? void() : (std::fputs("invariant broken: " #holds "\n", stderr), std::abort()))

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    const int head = size > 0 ? data[0] : 0;
    size_t at = 1;
    VariableTable table;
    for (int n = head & 7; n > 0 && at + 6 <= size; --n, at += 6) {
        int32_t value;
        std::memcpy(&value, data + at + 2, sizeof value);
        table[static_cast<uint16_t>(data[at] | data[at + 1] << 8)] = value;
    }
    TokenList list;
    if (head & 8) {
        if (CExprUtil::VerifyExpression(list, std::string(bytes + at, bytes + size).c_str()) != 0)
            return 0;
    } else {
        for (size_t length; at + 1 < size; at += 2 + length) {
            length = std::min<size_t>(data[at + 1] % 8, size - at - 2);
            list.emplace_back(bytes + at + 2, length, data[at] % 16 - 2);
        }
    }

    TokenList evaluated = list;
    int32_t result = 12345, compiledResult = 12345;
    const int status = CExprUtil::EvaluatePostfix(evaluated, table, result);
    REQUIRE(status == 0 || (status == 20014 && result == 0));
    const int compiledStatus = CCompiledExpr(list).Evaluate(table, compiledResult);
    REQUIRE(compiledStatus == status && compiledResult == result);
    return 0;
}
