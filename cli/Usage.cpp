#include "Usage.h"

#include <cstdio>

void PrintUsage()
{
    std::puts("quillet use as:");
    std::puts("\t quillet [-s ExpressionString] [-v][-h]");
    std::puts("Parameters:");
    std::puts("\t ExpressionString -- expression string which will be verified ");
    std::puts("\t-v for verify expression version.");
    std::puts("\t-h for help msg.");
    std::puts("\t return 0 if expression is valid, otherwise invalid ");
}
