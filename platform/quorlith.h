/* Platform logging library: one printf-style entry point for every record. */
#ifndef QUORLITH_H
#define QUORLITH_H

#ifdef __cplusplus
extern "C" {
#endif

/* Formats `format` with the trailing arguments and writes one record:
 *   [<level> <levelName>] <module> <file>:<line>:<message>
 * The record is always exactly one line: inside the message a backslash is
 * written as "\\" and every control byte (below 0x20, and 0x7F) but a final
 * newline as \n, \t, \r or \xHH; a message without a final newline gets one.
 * Returns the number of bytes written, or -1 when nothing could be written. */
int quorlith_printf(int level, const char *levelName, const char *module,
                    const char *format, const char *file, int line, ...)
    __attribute__((format(printf, 4, 7)));

#ifdef __cplusplus
}
#endif

#endif /* QUORLITH_H */
