// The log function quillet-check links: the library's records of verifying
// and evaluating each rule are not written, since the tool's own lines say
// what it found. The tool needs no platform log library.
#include "ExprLog.h"

extern "C" int quorlith_printf(int /*level*/, const char * /*levelName*/, const char * /*module*/,
    const char * /*format*/, const char * /*file*/, int /*line*/, ...)
{
    return 0;
}
