// Arbitrary bytes as an expression into every operation: the verdict is 0
// exactly when both steps pass, LocateError says well formed exactly then and
// points where an independent model points, an accepted expression comes out
// in postfix, and both evaluation engines agree on any list of tokens.
#include <array>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "CCompiledExpr.h"
#include "ExprLog.h"
#include "TokenOperators.h"

using namespace fernvault::alarm_manager;

// A broken invariant stops the run; libFuzzer keeps the input.
#define REQUIRE(holds)                                                                                       \
    ((holds) ? void() : (std::fputs("invariant broken: " #holds "\n", stderr), std::abort()))

namespace {

bool Accepted(const std::string &text)
{
    TokenList list;
    return CExprUtil::VerifyExpression(list, text.c_str()) == 0;
}

// Length of the lexeme at text[i], 0 when none starts there.
size_t LexemeLength(const std::string &text, size_t i)
{
    const size_t digits = std::min(text.find_first_not_of("0123456789", i), text.size()) - i;
    const size_t close = text.find_first_not_of("0123456789", i + 2);
    if (text.compare(i, 2, "{$") == 0)
        return close < text.size() && text[close] == '}' ? close + 1 - i : 0;
    // The operators of the table, the longer texts first ("&&" before "&").
    for (const size_t length : {size_t{2}, size_t{1}})
        for (const OperatorRow &row : kOperators)
            if (std::strlen(row.text) == length && text.compare(i, length, row.text) == 0)
                return length;
    return text[i] == '(' || text[i] == ')' ? 1 : digits;
}

// The first byte that starts no lexeme, else the first token after which no
// completion (an operand or none, then closing parentheses) is accepted by
// the verifier, else the end. Any grammar error shows as EOperandExpected.
ErrorLocation Model(const std::string &text)
{
    std::vector<size_t> starts, ends;
    for (size_t i = 0, length; i < text.size(); i += length)
        if ((length = text[i] == ' ' ? 1 : LexemeLength(text, i)) == 0)
            return {EInvalidToken, i};
        else if (text[i] != ' ') {
            starts.push_back(i);
            ends.push_back(i + length);
        }
    for (size_t k = 0; k < starts.size(); ++k) {
        bool completes = false;
        for (std::string bare = text.substr(0, ends[k]), operand = bare + " 1";
             !completes && bare.size() <= ends[k] + k + 1; bare += ')', operand += ')')
            completes = Accepted(bare) || Accepted(operand);
        if (!completes)
            return {EOperandExpected, starts[k]};
    }
    return Accepted(text) ? ErrorLocation{EWellFormed, 0} : ErrorLocation{EUnexpectedEnd, text.size()};
}

// What one evaluation gave: status, result and each record's line and message.
std::string gRecords;

std::string Outcome(int status, int32_t value)
{
    std::string outcome = std::to_string(status) + " " + std::to_string(value) + gRecords;
    gRecords.clear();
    return outcome;
}

// EvaluatePostfix and the three compiled evaluations give the same status,
// result and records, a failure being 20014 with the result 0. Three kinds of
// row (values from kTable, all 0, all 1) take different && || branches and
// division outcomes; 64 + 3 rows run as a block and row by row.
void ExpectEnginesAgree(const TokenList &list)
{
    static const VariableTable kTable = {{1, 7}, {2, 0}, {3, INT32_MIN}, {4, -1}};
    gRecords.clear();  // the verification's
    const CCompiledExpr compiled(list);
    const std::vector<uint16_t> &variables = compiled.GetVariables();
    size_t stride = 0;  // the leading slots kTable has
    while (stride < variables.size() && kTable.count(variables[stride]) != 0)
        ++stride;
    std::array<std::vector<int32_t>, 3> kinds;
    std::array<std::string, 3> expected;
    for (int kind = 0; kind < 3; ++kind) {
        VariableTable table;
        for (size_t slot = 0; slot < stride; ++slot)
            kinds[kind].push_back(kind == 0 ? kTable.at(variables[slot]) : kind - 1);
        for (size_t slot = 0; slot < stride; ++slot)
            table[variables[slot]] = kinds[kind][slot];
        TokenList copy = list;
        int32_t value = 12345;
        const int status = CExprUtil::EvaluatePostfix(copy, table, value);
        REQUIRE(status == 0 || (status == 20014 && value == 0));
        expected[kind] = Outcome(status, value);
        int32_t compiledValue = 12345;
        REQUIRE(Outcome(compiled.Evaluate(table, compiledValue), compiledValue) == expected[kind]);
        REQUIRE(Outcome(compiled.Evaluate(kinds[kind].data(), stride, compiledValue), compiledValue) ==
            expected[kind]);
    }
    const size_t rows = 64 + 3;
    std::vector<int32_t> matrix;
    std::string rowsExpected;
    for (size_t row = 0; row < rows; ++row) {
        matrix.insert(matrix.end(), kinds[row % 3].begin(), kinds[row % 3].end());
        rowsExpected += expected[row % 3];
    }
    std::vector<int32_t> results(rows, 12345);
    std::vector<int> statuses(rows, 12345);
    const int status = compiled.EvaluateRows(matrix.data(), stride, rows, results.data(), statuses.data());
    std::string records = gRecords;
    gRecords.clear();
    std::string rowsOutcome;
    int worst = 0;
    for (size_t row = 0; row < rows; ++row) {
        const size_t end = records.find('\n');  // a row writes one record at most
        const bool failed = statuses[row] != 0;
        rowsOutcome += std::to_string(statuses[row]) + " " + std::to_string(results[row]) +
            (failed ? records.substr(0, end + 1) : "");
        records.erase(0, failed ? end + 1 : 0);
        worst = failed ? statuses[row] : worst;
    }
    REQUIRE(rowsOutcome == rowsExpected && records.empty() && status == worst);
}

}  // namespace

// Records each call's line and message, so that the engines' records compare.
extern "C" int quorlith_printf(int /*level*/, const char * /*levelName*/, const char * /*module*/,
    const char *format, const char * /*file*/, int line, ...)
{
    va_list args;
    va_start(args, line);
    char message[256];
    const int length = std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    gRecords += std::to_string(line) + message;
    return length;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    TokenList infix, postfix{ExprToken("stale", ENumber)};
    const int lexed = CExprUtil::TokenAnalysis(infix, text.c_str());
    const int parsed = lexed == 0 ? CExprUtil::SyntaxAnalysis(infix) : lexed;
    ExpectEnginesAgree(infix);
    REQUIRE((lexed == 0 || lexed == 20014) && (parsed == 0 || parsed == 20014));
    const int verified = CExprUtil::VerifyExpression(postfix, text.c_str());
    REQUIRE(verified == (parsed == 0 ? 0 : 20014));
    const ErrorLocation location = CExprUtil::LocateError(text.c_str());
    REQUIRE((location.eReason == EWellFormed) == (verified == 0));
    const ErrorReason reason = location.eReason;  // as the model tells grammar errors apart
    const ErrorReason kind =
        reason < EOperandExpected || reason == EUnexpectedEnd ? reason : EOperandExpected;
    if (size <= 48) {  // the model is cubic
        // It reads the text up to a NUL, as the library does.
        // NOLINTNEXTLINE(readability-redundant-string-cstr)
        const ErrorLocation model = Model(text.c_str());
        REQUIRE(location.offset == model.offset && kind == model.eReason);
    }
    if (verified != 0)
        return 0;
    ExpectEnginesAgree(postfix);

    // The operands in their order, and a stack walk that finds two operands
    // at every operator and ends at one: nothing else is left, no parenthesis.
    std::string infixOperands, postfixOperands;
    size_t depth = 0;
    for (const ExprToken &token : infix)
        infixOperands +=
            token.eTokenCode <= ENumber ? std::to_string(token.eTokenCode) + token.strToken + ' ' : "";
    for (const ExprToken &token : postfix) {
        const bool isOperator = IsBinaryOperator(token.eTokenCode);
        REQUIRE(isOperator ? depth-- >= 2 : token.eTokenCode <= ENumber && ++depth > 0);
        postfixOperands += isOperator ? "" : std::to_string(token.eTokenCode) + token.strToken + ' ';
    }
    REQUIRE(depth == 1 && infixOperands == postfixOperands);
    return 0;
}
