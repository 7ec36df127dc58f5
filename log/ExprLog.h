// The one call form through which the expression code writes log records.
//
//   EXPR_LOG(EError, " fail to get value for variable(%s) \n", text);
//   EXPR_LOG(ETrace, " token analysis success \n");
//
// Each call supplies the level number and its name, the module tag, the
// format, the calling file's base name and the call's own line, then the
// format's arguments; quorlith_printf carries the printf format attribute,
// so a wrong argument type fails the build.
#ifndef QUILLET_LOG_EXPRLOG_H
#define QUILLET_LOG_EXPRLOG_H

#ifdef __cplusplus
extern "C" {
#endif
// The platform's log function, declared here so that the expression code
// needs no header of the platform library; the attribute has the compiler
// check every call's arguments against its format.
int quorlith_printf(int level, const char *levelName, const char *module, const char *format,
    const char *file, int line, ...) __attribute__((format(printf, 4, 7)));
#ifdef __cplusplus
}
#endif

namespace quillet_log {

// Levels in use; the enumerator's own name is the level name in the record.
enum LogLevel : int { EError = 1, ETrace = 5 };

inline constexpr const char *kModule = "ALARM_MANAGER";

constexpr const char *BaseName(const char *path)
{
    const char *base = path;
    for (const char *p = path; *p != '\0'; ++p)
        if (*p == '/')
            base = p + 1;
    return base;
}

}  // namespace quillet_log

#ifdef __FILE_NAME__
#define EXPR_LOG_FILE __FILE_NAME__
#else
#define EXPR_LOG_FILE ::quillet_log::BaseName(__FILE__)
#endif

#define EXPR_LOG_PLAIN(level, format)                                                                        \
    quorlith_printf(::quillet_log::level, #level, ::quillet_log::kModule, format, EXPR_LOG_FILE, __LINE__)
#define EXPR_LOG_ARGS(level, format, ...)                                                                    \
    quorlith_printf(                                                                                         \
        ::quillet_log::level, #level, ::quillet_log::kModule, format, EXPR_LOG_FILE, __LINE__, __VA_ARGS__)
// Picks the form by argument count (up to two format arguments) so that a
// message without arguments needs no empty variadic list.
#define EXPR_LOG_SELECT(a1, a2, a3, a4, form, ...) form
#define EXPR_LOG(...)                                                                                        \
    EXPR_LOG_SELECT(__VA_ARGS__, EXPR_LOG_ARGS, EXPR_LOG_ARGS, EXPR_LOG_PLAIN, unused)                       \
    (__VA_ARGS__)

#endif  // QUILLET_LOG_EXPRLOG_H
