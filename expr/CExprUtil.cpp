#include "CExprUtil.h"

#include <apr_errno.h>
#include <array>
#include <charconv>
#include <iterator>
#include <optional>
#include <string_view>

#include "Evaluation.h"
#include "ExprLog.h"
#include "TokenOperators.h"

namespace fernvault::alarm_manager {

namespace {
// What reading one lexeme found.
enum class Scan { EToken, EEnd, EBadEquality, EBadVariable, EBadCharacter };

// One token of the text: its lexeme starts at `first`; its text, the digits
// alone for a variable, is `length` bytes at `textFirst`.
struct Lexeme {
    size_t first;
    size_t textFirst;
    size_t length;
    TokenCode code;
};

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

size_t DigitRunEnd(std::string_view text, size_t from)
{
    while (from < text.size() && IsDigit(text[from]))
        ++from;
    return from;
}

Scan Take(Lexeme &lexeme, size_t &i, size_t width, TokenCode code)
{
    lexeme = Lexeme{i, i, width, code};
    i += width;
    return Scan::EToken;
}

// variable := "{" "$" digits* "}"; the token's text is the digits alone.
Scan ReadVariable(std::string_view text, size_t &i, Lexeme &lexeme)
{
    const size_t first = i + 2;
    const size_t end = DigitRunEnd(text, first);
    if (end == text.size() || text[end] != '}')
        return Scan::EBadVariable;
    lexeme = Lexeme{i, first, end - first, EVariable};
    i = end + 1;
    return Scan::EToken;
}

// Skips the blanks at `i` and reads the lexeme after them, moving `i` past
// it. EEnd when only blanks were left; on a failure `i` is the first byte of
// the lexeme that starts no valid token. `text` is followed by a NUL.
Scan ReadLexeme(std::string_view text, size_t &i, Lexeme &lexeme)
{
    while (i < text.size() && text[i] == ' ')
        ++i;
    if (i == text.size())
        return Scan::EEnd;
    // The NUL after the last byte, which text[i + 1] may not read.
    const char next = text.data()[i + 1];  // NOLINT(readability-simplify-subscript-expr)
    switch (text[i]) {
    case '%':
    case '*':
    case '/': return Take(lexeme, i, 1, EMulDivMod);
    case '+':
    case '-': return Take(lexeme, i, 1, EAddSub);
    case '(': return Take(lexeme, i, 1, ELeftParen);
    case ')': return Take(lexeme, i, 1, ERightParen);
    case '^': return Take(lexeme, i, 1, EBitXor);
    case '&': return next == '&' ? Take(lexeme, i, 2, ELogicAnd) : Take(lexeme, i, 1, EBitAnd);
    case '|': return next == '|' ? Take(lexeme, i, 2, ELogicOr) : Take(lexeme, i, 1, EBitOr);
    case '=':
    case '!': return next == '=' ? Take(lexeme, i, 2, EEquality) : Scan::EBadEquality;
    case '<':
    case '>': return Take(lexeme, i, next == '=' ? 2 : 1, ERelational);
    case '{': return next == '$' ? ReadVariable(text, i, lexeme) : Scan::EBadCharacter;
    default: break;
    }
    if (IsDigit(text[i]))
        return Take(lexeme, i, DigitRunEnd(text, i) - i, ENumber);
    return Scan::EBadCharacter;
}

const char *TextOrNull(const char *text)
{
    return text != nullptr ? text : "NULL";
}

}  // namespace

CExprUtil::CExprUtil() = default;

CExprUtil::~CExprUtil() = default;

int CExprUtil::TokenAnalysis(TokenList &list, const char *expression)
{
    if (expression == nullptr || expression[0] == '\0') {
        EXPR_LOG(EError, " Invalid expression string to be analysed \n");
        return APR_EGENERAL;
    }
    list.clear();
    const std::string_view text(expression);
    list.reserve(text.size() / 2 + 1);  // room for most texts: a fresh list grows once
    Lexeme lexeme;
    size_t i = 0;
    Scan scan;
    while ((scan = ReadLexeme(text, i, lexeme)) == Scan::EToken)
        list.emplace_back(text.data() + lexeme.textFirst, lexeme.length, lexeme.code);
    switch (scan) {
    case Scan::EBadEquality: EXPR_LOG(EError, " Invalid token in expression string \n"); return APR_EGENERAL;
    case Scan::EBadVariable: EXPR_LOG(EError, " Invalid token in expression string \n"); return APR_EGENERAL;
    case Scan::EBadCharacter: EXPR_LOG(EError, " Invalid token in expression string \n"); return APR_EGENERAL;
    case Scan::EToken:
    case Scan::EEnd: break;
    }
    EXPR_LOG(ETrace, " token analysis success \n");
    return 0;
}

namespace {
// The token codes of a list, one at a time; ENoToken after the last.
struct ListCodes {
    const TokenList &list;
    size_t cursor = 0;  // tokens consumed, the index of the next
    int32_t Next() { return cursor < list.size() ? list[cursor++].eTokenCode : ENoToken; }
    static size_t Offset() { return 0; }  // a list has no text to point into
};

// The token codes of a text as TokenAnalysis reads it, and where the last
// one starts; ENoToken at the end, and from the first byte that starts no
// valid token on (Invalid() then).
struct TextCodes {
    std::string_view text;
    size_t i = 0;
    Lexeme lexeme{};
    Scan scan = Scan::EToken;
    int32_t Next()
    {
        scan = ReadLexeme(text, i, lexeme);
        return scan == Scan::EToken ? lexeme.code : ENoToken;
    }
    [[nodiscard]] size_t Offset() const { return scan == Scan::EToken ? lexeme.first : i; }
    [[nodiscard]] bool Invalid() const { return scan != Scan::EToken && scan != Scan::EEnd; }
};

// The values of one syntax analysis. Open parentheses are counted rather
// than recursed into, so any depth runs in constant stack and linear time.
template <typename Codes> struct SyntaxState {
    Codes codes;
    int32_t eTokenCode = ENoToken;             // the token in hand, ENoToken at the end
    int32_t eErrorCode = 0;                    // -1 once any factor was malformed
    size_t openFactors = 0;                    // "(" read whose factor is not closed yet
    ErrorLocation firstError{EWellFormed, 0};  // where the first malformed factor went wrong
};

template <typename Codes> void GetNextToken(SyntaxState<Codes> &state)
{
    state.eTokenCode = state.codes.Next();
}

// Marks the factor malformed at the token in hand, where `expected` (or,
// at the end, more) should stand. Cold, and OpenFactor inlined: the
// analysis of a well-formed list runs at the speed of one without errors.
template <typename Codes> [[gnu::cold]] void Fail(SyntaxState<Codes> &state, ErrorReason expected)
{
    state.eErrorCode = -1;
    if (state.firstError.eReason == EWellFormed)
        state.firstError = {state.eTokenCode == ENoToken ? EUnexpectedEnd : expected, state.codes.Offset()};
}

bool IsOperand(int32_t code)
{
    return static_cast<uint32_t>(code) <= ENumber;
}

// factor := "(" expression ")" | operand
// Reads up to the first operand of a factor, opening a nested expression at
// each "(". A malformed factor leaves the token in hand.
template <typename Codes> [[gnu::always_inline]] inline void OpenFactor(SyntaxState<Codes> &state)
{
    for (; state.eTokenCode == ELeftParen; ++state.openFactors)
        GetNextToken(state);
    if (IsOperand(state.eTokenCode))
        GetNextToken(state);
    else
        Fail(state, EOperandExpected);
}

// expression := factor { operator factor }
// An error never stops the analysis: it goes on while operators follow, and
// an expression that ends on anything but ")" leaves its factor unclosed.
template <typename Codes> void ParseExpression(SyntaxState<Codes> &state)
{
    OpenFactor(state);
    for (;;) {
        if (state.eTokenCode > ERightParen) {
            GetNextToken(state);
            OpenFactor(state);
        } else if (state.openFactors == 0) {
            return;
        } else {
            --state.openFactors;
            if (state.eTokenCode == ERightParen)
                GetNextToken(state);
            else
                Fail(state, EOperatorOrParenExpected);
        }
    }
}

// The analysis of `codes`, up to where the outermost expression ends.
template <typename Codes> SyntaxState<Codes> Analyse(Codes codes)
{
    SyntaxState<Codes> state{codes};
    GetNextToken(state);
    ParseExpression(state);
    return state;
}
}  // namespace

int CExprUtil::SyntaxAnalysis(const TokenList &list)
{
    const SyntaxState<ListCodes> state = Analyse(ListCodes{list});
    if (state.eTokenCode == ENoToken && state.eErrorCode == 0) {
        EXPR_LOG(ETrace, " syntax analysis success \n");
        return 0;
    }
    EXPR_LOG(EError, " syntax analysis fail(eTokenCode = %d, eErrorCode = %d) \n", state.eTokenCode,
        state.eErrorCode);
    return APR_EGENERAL;
}

int CExprUtil::VerifyExpression(TokenList &list, const char *expression)
{
    list.clear();
    int status = TokenAnalysis(list, expression);
    if (status == 0)
        status = SyntaxAnalysis(list);
    if (status != 0) {
        EXPR_LOG(EError, " Invalid expression : %s \n", TextOrNull(expression));
        return status;
    }
    EXPR_LOG(ETrace, " Valid expression : %s \n", TextOrNull(expression));
    ConvertToPostfix(list);
    return 0;
}

ErrorLocation CExprUtil::LocateError(const char *expression)
{
    if (expression == nullptr)
        return ErrorLocation{ENullExpression, 0};
    SyntaxState<TextCodes> state = Analyse(TextCodes{std::string_view(expression)});
    TextCodes &codes = state.codes;
    if (state.eTokenCode != ENoToken && state.firstError.eReason == EWellFormed)
        state.firstError = {
            state.eTokenCode == ERightParen ? EUnmatchedParen : EOperatorExpected, codes.Offset()};
    while (codes.Next() != ENoToken) { }  // a byte that starts no valid token wins, wherever it stands
    return codes.Invalid() ? ErrorLocation{EInvalidToken, codes.Offset()} : state.firstError;
}

const char *CExprUtil::ReasonText(ErrorReason reason)
{
    static constexpr std::array kReasonTexts = {"well formed", "no expression", "invalid token",
        "operand expected", "operator expected", "operator or ')' expected", "unmatched ')'",
        "unexpected end"};
    static_assert(kReasonTexts.size() == EUnexpectedEnd + 1);
    const auto index = static_cast<size_t>(reason);
    return index < kReasonTexts.size() ? kReasonTexts[index] : "unknown reason";
}

namespace {
// Shunting-yard with the token code as precedence, over indices: the postfix
// order to order[0, kept), kept returned, and the parentheses it drops after
// it. `stack` has room for every index.
size_t PostfixOrder(const TokenList &list, size_t *order, size_t *stack)
{
    size_t out = 0;
    size_t dropped = list.size();
    size_t depth = 0;
    const auto top = [&] { return list[stack[depth - 1]].eTokenCode; };
    for (size_t i = 0; i < list.size(); ++i) {
        const int32_t code = list[i].eTokenCode;
        if (code == ELeftParen || IsBinaryOperator(code)) {
            while (depth > 0 && IsBinaryOperator(top()) && top() <= code)
                order[out++] = stack[--depth];
            stack[depth++] = i;
        } else if (code == ERightParen) {
            while (depth > 0 && top() != ELeftParen)
                order[out++] = stack[--depth];
            order[--dropped] = i;
            if (depth > 0)
                order[--dropped] = stack[--depth];
        } else {
            order[out++] = i;
        }
    }
    while (depth > 0)
        order[out++] = stack[--depth];
    return out;
}

// Moves tokens[order[k]] to tokens[k] for every k, each token once, a cycle
// of the permutation at a time; a place filled is marked as its own.
void Permute(ExprToken *tokens, size_t count, size_t *order)
{
    for (size_t start = 0; start < count; ++start) {
        if (order[start] == start)
            continue;
        ExprToken held = std::move(tokens[start]);
        size_t to = start;
        for (size_t from = order[to]; from != start; from = order[to]) {
            tokens[to] = std::move(tokens[from]);
            order[to] = to;
            to = from;
        }
        tokens[to] = std::move(held);
        order[to] = to;
    }
}
}  // namespace

// The order is found on indices, in buffers allocated before any token moves.
void CExprUtil::ConvertToPostfix(TokenList &list)
{
    evaluation::LocalValues<size_t> localOrder;
    evaluation::LocalValues<size_t> localStack;
    const evaluation::CValueBuffer<size_t> order(localOrder, list.size());
    const evaluation::CValueBuffer<size_t> stack(localStack, list.size());
    const size_t kept = PostfixOrder(list, order.Data(), stack.Data());
    Permute(list.data(), list.size(), order.Data());
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(kept), list.end());
}

int CExprUtil::SubstituteVariables(TokenList &list, const VariableTable &table)
{
    for (ExprToken &token : list) {
        if (token.eTokenCode != EVariable)
            continue;
        const auto entry = table.find(VariableNumber(token.strToken));
        if (entry == table.end())
            return evaluation::RecordFailure(evaluation::Failure::EMissingVariable, token.strToken.c_str());
        // At most 11 characters: the text stays in the string's own buffer.
        std::array<char, sizeof "-2147483648"> digits;
        const auto written = std::to_chars(digits.data(), digits.data() + digits.size(), entry->second);
        token.strToken.erase().append(digits.data(), static_cast<size_t>(written.ptr - digits.data()));
    }
    return 0;
}

int evaluation::RecordFailure(Failure failure, const char *variableText)
{
    switch (failure) {
    case Failure::ENone: return 0;
    case Failure::EEmptyList:
        EXPR_LOG(EError, " Invalid expression without operand to be evaluated \n");
        break;
    case Failure::EMissingVariable:
        EXPR_LOG(EError, " fail to get value for variable(%s) \n", variableText);
        break;
    case Failure::EUnmatchedOperands:
        EXPR_LOG(EError, " Invalid expression with un-matched operands \n");
        break;
    case Failure::EDenominator: EXPR_LOG(EError, " Invalid expression with denominator 0 \n"); break;
    }
    return APR_EGENERAL;
}

namespace {
using evaluation::Failure;

// A value on the stack of EvaluatePostfix. It is poisoned when it stems from
// a division by zero whose failure waits on an && or || that may not need it.
struct Operand {
    int32_t value;
    bool poisoned;
};

// left op right into `value`, where a poisoned operand that the result needs
// poisons the result. False for a zero denominator between clean operands:
// the caller fails at once, or poisons the result if an && or || follows.
bool Combine(BinaryOp op, Operand left, Operand right, Operand &value)
{
    const bool needsRight = NeedsRightOperand(op, left.value);
    value.poisoned = left.poisoned || (needsRight && right.poisoned);
    if (value.poisoned)
        return true;  // its value is never read
    if (needsRight)
        return Apply(op, left.value, right.value, value.value);
    value.value = ShortCircuitValue(op);
    return true;
}

// The index of the last && or || of `list`, or its size if none.
size_t LastLogicIndex(const TokenList &list)
{
    for (size_t i = list.size(); i-- > 0;)
        if (IsBinaryOperator(list[i].eTokenCode) && MayShortCircuit(OperatorOf(list[i])))
            return i;
    return list.size();
}

// Runs `list`, any substituted postfix list, over `stack`, which has room
// for every value it pushes: a token that is no binary operator is a value,
// read from its text. A zero denominator fails at once, unless an && or || after
// it may still drop the value it poisons; a poisoned value that survives to
// the end fails all the same. Writes `result` only on success.
Failure Run(const TokenList &list, Operand *stack, int32_t &result)
{
    size_t depth = 0;
    std::optional<size_t> lastLogic;  // found at the first zero denominator
    for (size_t i = 0; i < list.size(); ++i) {
        if (!IsBinaryOperator(list[i].eTokenCode)) {
            stack[depth++] = Operand{ReadInt32(list[i].strToken.c_str()), false};
            continue;
        }
        if (depth < 2)
            return Failure::EUnmatchedOperands;
        Operand &value = stack[--depth - 1];  // the left operand's place; Combine takes copies
        if (!Combine(OperatorOf(list[i]), value, stack[depth], value)) {
            if (!lastLogic)
                lastLogic = LastLogicIndex(list);
            if (*lastLogic == list.size() || *lastLogic < i)
                return Failure::EDenominator;
            value.poisoned = true;
        }
    }
    // Values below the top are dropped, but they were computed: a division
    // by zero inside one was needed, whatever && or || came after it.
    for (size_t below = 0; below < depth; ++below)
        if (stack[below].poisoned)
            return Failure::EDenominator;
    result = stack[depth - 1].value;
    return Failure::ENone;
}
}  // namespace

int CExprUtil::EvaluatePostfix(TokenList &list, const VariableTable &table, int32_t &result)
{
    result = 0;
    if (list.empty())
        return evaluation::RecordFailure(evaluation::Failure::EEmptyList);
    if (SubstituteVariables(list, table) != 0)
        return APR_EGENERAL;
    // No list pushes more values than it has tokens.
    evaluation::LocalValues<Operand> local;
    const evaluation::CValueBuffer<Operand> stack(local, list.size());
    return evaluation::RecordFailure(Run(list, stack.Data(), result));
}

}  // namespace fernvault::alarm_manager
