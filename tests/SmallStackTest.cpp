#include <gtest/gtest.h>
#include <pthread.h>

#include "CCompiledExpr.h"
#include "CExprUtil.h"
#include "RecordingLog.h"

using namespace fernvault::alarm_manager;

namespace {

constexpr size_t kDeep = 1000000;

struct Outcome {
    int verify = -1, evaluate = -1, compiled = -1;
    int32_t value = 0, compiledValue = 0;
    ErrorLocation location{EWellFormed, 0};
    std::vector<LogRecord> records;
};

// Every operation on `text`, on a thread with a stack of an embedded
// worker's size: any recursion per nesting level overflows it.
Outcome RunOnSmallStack(const std::string &text)
{
    struct Job {
        const std::string &text;
        Outcome outcome;
    } job{text, {}};
    const auto work = [](void *arg) -> void * {
        Job &job = *static_cast<Job *>(arg);
        Outcome &out = job.outcome;
        out.location = CExprUtil::LocateError(job.text.c_str());
        TokenList list;
        out.verify = CExprUtil::VerifyExpression(list, job.text.c_str());
        if (out.verify == 0) {
            out.compiled = CCompiledExpr(list).Evaluate({}, out.compiledValue);
            out.evaluate = CExprUtil::EvaluatePostfix(list, {}, out.value);
        }
        out.records = TakeRecords();
        return nullptr;
    };
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 64 * 1024);
    pthread_t thread;
    EXPECT_EQ(pthread_create(&thread, &attributes, work, &job), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    return job.outcome;
}

std::string Repeat(const std::string &piece, size_t count)
{
    std::string text;
    while (count-- > 0)
        text += piece;
    return text;
}

TEST(SmallStack, AnyDepthRunsInConstantStack)
{
    const struct {
        const char *name;
        std::string text;
        int32_t value;  // -1: rejected by the syntax analysis
    } rows[] = {
        {"nested", Repeat("(", kDeep) + "1" + Repeat(")", kDeep), 1},
        {"right chain", Repeat("1+(", kDeep) + "1" + Repeat(")", kDeep), kDeep + 1},
        {"unclosed", Repeat("(", kDeep) + "1", -1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome out = RunOnSmallStack(row.text);
        if (row.value < 0) {
            EXPECT_EQ(out.location.eReason, EUnexpectedEnd);
            EXPECT_EQ(out.location.offset, row.text.size());
            EXPECT_EQ(out.verify, 20014);
            ASSERT_EQ(out.records.size(), 3u);
            EXPECT_EQ(out.records[1].message,
                      " syntax analysis fail(eTokenCode = -1, eErrorCode = -1) \n");
            continue;
        }
        EXPECT_EQ(out.location.eReason, EWellFormed);
        EXPECT_EQ(out.verify, 0);
        EXPECT_EQ(out.evaluate, 0);
        EXPECT_EQ(out.value, row.value);
        EXPECT_EQ(out.compiled, 0);
        EXPECT_EQ(out.compiledValue, row.value);
    }
}

}  // namespace
