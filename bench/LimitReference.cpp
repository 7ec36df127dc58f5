#include "LimitReference.h"

#include <algorithm>

#include "Arithmetic.h"

namespace quillet_bench {

using fernvault::alarm_manager::Apply;
using fernvault::alarm_manager::BinaryOp;
using fernvault::alarm_manager::CExprUtil;

namespace {

enum Opcode : uint8_t { kPushValue, kPushVariable, kFirstOperator, kParen = 0xFF };

constexpr uint32_t kMaxNesting = 1024;  // deepest nesting the reference handles
// Within one level of parentheses the waiting operators rank strictly
// upwards, so a level holds at most nine of them and its "(".
constexpr size_t kOperatorStack = (kMaxNesting + 1) * 10;
constexpr size_t kValueStack = 16384;

// Precedence of each BinaryOp: its token code.
constexpr uint8_t kRank[] = {4, 4, 4, 5, 5, 6, 6, 6, 6, 7, 7, 8, 9, 10, 11, 12};
static_assert(std::size(kRank) == static_cast<size_t>(BinaryOp::ELogicOr) + 1);

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Reads a digit run at `p`, saturating at INT32_MAX as strtol would.
const char *ReadNumber(const char *p, int32_t &value)
{
    uint64_t magnitude = 0;
    for (; IsDigit(*p); ++p)
        magnitude = std::min<uint64_t>(magnitude * 10u + static_cast<uint64_t>(*p - '0'), 0x80000000u);
    value = static_cast<int32_t>(std::min<uint64_t>(magnitude, 0x7FFFFFFFu));
    return p;
}

// Reads an operator lexeme at `p`; nullptr when there is none.
const char *ReadOperator(const char *p, BinaryOp &op)
{
    const bool doubled = p[1] == p[0];
    const bool equals = p[1] == '=';
    switch (*p) {
    case '*': op = BinaryOp::EMul; return p + 1;
    case '/': op = BinaryOp::EDiv; return p + 1;
    case '%': op = BinaryOp::EMod; return p + 1;
    case '+': op = BinaryOp::EAdd; return p + 1;
    case '-': op = BinaryOp::ESub; return p + 1;
    case '^': op = BinaryOp::EBitXor; return p + 1;
    case '&': op = doubled ? BinaryOp::ELogicAnd : BinaryOp::EBitAnd; return p + 1 + doubled;
    case '|': op = doubled ? BinaryOp::ELogicOr : BinaryOp::EBitOr; return p + 1 + doubled;
    case '<': op = equals ? BinaryOp::ELessEqual : BinaryOp::ELess; return p + 1 + equals;
    case '>': op = equals ? BinaryOp::EGreaterEqual : BinaryOp::EGreater; return p + 1 + equals;
    case '=': op = BinaryOp::EEqual; return equals ? p + 2 : nullptr;
    case '!': op = BinaryOp::ENotEqual; return equals ? p + 2 : nullptr;
    default: return nullptr;
    }
}

// One pass: an operand is expected after "(" and operators, an operator or
// ")" after operands. With `program`, shunting-yard emits instructions too.
template <bool kCompile>
bool Scan(const char *p, ReferenceProgram *program)
{
    uint8_t waiting[kOperatorStack];
    size_t waitingCount = 0;
    uint32_t nesting = 0;
    uint32_t depth = 0;
    const auto emitOperator = [&](uint8_t opcode) {
        program->code.push_back(ReferenceInstruction{opcode, 0});
        --depth;
    };
    if constexpr (kCompile) {
        program->code.clear();
        program->maxDepth = 0;
    }
    for (bool wantOperand = true;;) {
        while (*p == ' ')
            ++p;
        if (wantOperand) {
            if (*p == '(') {
                if (++nesting > kMaxNesting)
                    return false;
                if constexpr (kCompile)
                    waiting[waitingCount++] = kParen;
                ++p;
                continue;
            }
            const bool variable = p[0] == '{' && p[1] == '$';
            if (!variable && !IsDigit(*p))
                return false;
            int32_t value = 0;
            p = ReadNumber(p + (variable ? 2 : 0), value);
            if (variable && *p++ != '}')
                return false;
            if constexpr (kCompile) {
                program->code.push_back(ReferenceInstruction{
                    variable ? kPushVariable : kPushValue, variable ? static_cast<uint16_t>(value) : value});
                program->maxDepth = std::max(program->maxDepth, ++depth);
            }
            wantOperand = false;
        } else if (*p == '\0') {
            if constexpr (kCompile)
                while (waitingCount > 0)
                    emitOperator(waiting[--waitingCount]);
            return nesting == 0;
        } else if (*p == ')') {
            if (nesting-- == 0)
                return false;
            if constexpr (kCompile) {
                while (waiting[waitingCount - 1] != kParen)
                    emitOperator(waiting[--waitingCount]);
                --waitingCount;
            }
            ++p;
        } else {
            BinaryOp op;
            if ((p = ReadOperator(p, op)) == nullptr)
                return false;
            if constexpr (kCompile) {
                const uint8_t rank = kRank[static_cast<size_t>(op)];
                while (waitingCount > 0 && waiting[waitingCount - 1] != kParen &&
                       kRank[waiting[waitingCount - 1] - kFirstOperator] <= rank)
                    emitOperator(waiting[--waitingCount]);
                waiting[waitingCount++] = static_cast<uint8_t>(kFirstOperator + static_cast<uint8_t>(op));
            }
            wantOperand = true;
        }
    }
}

}  // namespace

bool ReferenceValidate(const char *text)
{
    return text != nullptr && Scan<false>(text, nullptr);
}

bool ReferenceCompile(const char *text, ReferenceProgram &program)
{
    return text != nullptr && Scan<true>(text, &program);
}

bool ReferenceEvaluate(const ReferenceProgram &program, const VariableTable &table, int32_t &result)
{
    int32_t stack[kValueStack];
    if (program.code.empty() || program.maxDepth > kValueStack)
        return false;
    size_t depth = 0;
    for (const ReferenceInstruction &instruction : program.code) {
        switch (instruction.opcode) {
        case kPushValue: stack[depth++] = instruction.value; break;
        case kPushVariable: {
            const auto entry = table.find(static_cast<uint16_t>(instruction.value));
            if (entry == table.end())
                return false;
            stack[depth++] = entry->second;
            break;
        }
        default:
            --depth;
            if (!Apply(static_cast<BinaryOp>(instruction.opcode - kFirstOperator), stack[depth - 1],
                       stack[depth], stack[depth - 1]))
                return false;
        }
    }
    result = stack[depth - 1];
    return true;
}

}  // namespace quillet_bench
