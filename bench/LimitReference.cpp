#include "LimitReference.h"

#include <algorithm>

namespace quillet_bench {

namespace {

// The operators in order of precedence, tightest first.
enum Opcode : uint8_t {
    kPushValue,
    kPushVariable,
    kMul,
    kDiv,
    kMod,
    kAdd,
    kSub,
    kGreater,
    kLess,
    kGreaterEqual,
    kLessEqual,
    kEqual,
    kNotEqual,
    kBitAnd,
    kBitXor,
    kBitOr,
    kLogicAnd,
    kLogicOr,
    kParen,
};
// Precedence of each operator from kMul on; a smaller rank binds tighter.
constexpr uint8_t kRank[] = {0, 0, 0, 1, 1, 2, 2, 2, 2, 3, 3, 4, 5, 6, 7, 8};
static_assert(std::size(kRank) == kParen - kMul);

constexpr uint32_t kMaxNesting = 1024;  // deepest nesting the reference handles (fixed stacks)
// Within one level of parentheses the waiting operators rank strictly
// upwards, so a level holds at most nine of them and its "(".
constexpr size_t kOperatorStack = (kMaxNesting + 1) * 10;
constexpr size_t kValueStack = 16384;

constexpr bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Reads an operator lexeme at `p`; nullptr when there is none.
const char *ReadOperator(const char *p, uint8_t &op)
{
    const bool doubled = p[1] == p[0], equals = p[1] == '=';
    switch (*p) {
    case '*': op = kMul; return p + 1;
    case '/': op = kDiv; return p + 1;
    case '%': op = kMod; return p + 1;
    case '+': op = kAdd; return p + 1;
    case '-': op = kSub; return p + 1;
    case '^': op = kBitXor; return p + 1;
    case '&': op = doubled ? kLogicAnd : kBitAnd; return p + 1 + doubled;
    case '|': op = doubled ? kLogicOr : kBitOr; return p + 1 + doubled;
    case '<': op = equals ? kLessEqual : kLess; return p + 1 + equals;
    case '>': op = equals ? kGreaterEqual : kGreater; return p + 1 + equals;
    case '=': op = kEqual; return equals ? p + 2 : nullptr;
    case '!': op = kNotEqual; return equals ? p + 2 : nullptr;
    default: return nullptr;
    }
}

// left op right in 32-bit two's complement: + - * wrap, / and % truncate
// toward zero (INT32_MIN / -1 wraps, INT32_MIN % -1 is 0), comparisons and
// logic give 1 or 0. False, `value` untouched, for a zero denominator.
bool Apply(uint8_t op, int32_t left, int32_t right, int32_t &value)
{
    const uint32_t l = static_cast<uint32_t>(left), r = static_cast<uint32_t>(right);
    if ((op == kDiv || op == kMod) && right == 0)
        return false;
    switch (op) {
    case kMul: value = static_cast<int32_t>(l * r); break;
    case kDiv: value = right == -1 ? static_cast<int32_t>(0u - l) : left / right; break;
    case kMod: value = right == -1 ? 0 : left % right; break;
    case kAdd: value = static_cast<int32_t>(l + r); break;
    case kSub: value = static_cast<int32_t>(l - r); break;
    case kGreater: value = left > right; break;
    case kLess: value = left < right; break;
    case kGreaterEqual: value = left >= right; break;
    case kLessEqual: value = left <= right; break;
    case kEqual: value = left == right; break;
    case kNotEqual: value = left != right; break;
    case kBitAnd: value = static_cast<int32_t>(l & r); break;
    case kBitXor: value = static_cast<int32_t>(l ^ r); break;
    case kBitOr: value = static_cast<int32_t>(l | r); break;
    case kLogicAnd: value = left != 0 && right != 0; break;
    default: value = left != 0 || right != 0;
    }
    return true;
}

}  // namespace

// Shunting-yard inside the checking pass: an operand is expected after "("
// and operators, an operator or ")" after operands.
bool ReferenceCompile(const char *p, ReferenceProgram &program)
{
    uint8_t waiting[kOperatorStack];
    size_t waitingCount = 0;
    uint32_t nesting = 0, depth = 0;
    const auto emit = [&](uint8_t opcode, int32_t value) {
        program.code.emplace_back(opcode, value);
        depth = opcode <= kPushVariable ? depth + 1 : depth - 1;
        program.maxDepth = std::max(program.maxDepth, depth);
    };
    // Emits the waiting operators down to a "(" or one that binds looser than `rank`.
    const auto flush = [&](uint8_t rank) {
        for (uint8_t top;
             waitingCount > 0 && (top = waiting[waitingCount - 1]) != kParen && kRank[top - kMul] <= rank;)
            emit(waiting[--waitingCount], 0);
    };
    program.code.clear();
    program.maxDepth = 0;
    for (bool wantOperand = true; p != nullptr;) {
        while (*p == ' ')
            ++p;
        uint8_t op = 0;
        if (wantOperand && *p == '(') {
            if (++nesting > kMaxNesting)
                return false;
            waiting[waitingCount++] = kParen;
            ++p;
        } else if (wantOperand) {
            // A number, or {$N}; digits saturate at INT32_MAX as strtol's do.
            const bool variable = p[0] == '{' && p[1] == '$';
            p += variable ? 2 : 0;
            if (!IsDigit(*p))
                return false;
            uint64_t magnitude = 0;
            for (; IsDigit(*p); ++p)
                magnitude =
                    std::min<uint64_t>(magnitude * 10u + static_cast<uint64_t>(*p - '0'), 0x7FFFFFFFu);
            if (variable && *p++ != '}')
                return false;
            const auto value = static_cast<int32_t>(variable ? magnitude & 0xFFFFu : magnitude);
            emit(variable ? kPushVariable : kPushValue, value);
            wantOperand = false;
        } else if (*p == '\0') {
            flush(UINT8_MAX);
            return nesting == 0;
        } else if (*p == ')') {
            if (nesting-- == 0)
                return false;
            flush(UINT8_MAX);
            --waitingCount;
            ++p;
        } else if ((p = ReadOperator(p, op)) != nullptr) {
            flush(kRank[op - kMul]);
            waiting[waitingCount++] = op;
            wantOperand = true;
        }
    }
    return false;
}

bool ReferenceEvaluate(
    const ReferenceProgram &program, const fernvault::alarm_manager::VariableTable &table, int32_t &result)
{
    int32_t stack[kValueStack];
    if (program.code.empty() || program.maxDepth > kValueStack)
        return false;
    size_t depth = 0;
    for (const auto &[opcode, value] : program.code) {
        if (opcode == kPushValue) {
            stack[depth++] = value;
        } else if (opcode == kPushVariable) {
            const auto entry = table.find(static_cast<uint16_t>(value));
            if (entry == table.end())
                return false;
            stack[depth++] = entry->second;
        } else if (--depth, !Apply(opcode, stack[depth - 1], stack[depth], stack[depth - 1])) {
            return false;
        }
    }
    result = stack[depth - 1];
    return true;
}

}  // namespace quillet_bench
