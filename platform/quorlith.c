/* Stand-in for the platform logging library: records go to standard error.
 * Each record is built whole in memory and handed to one write(2), so the
 * records of concurrent processes never interleave and nothing is cut. */
#include "quorlith.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { kStackRecord = 512 };

/* Bytes that `c` takes in the escaped message. */
static size_t EscapedWidth(unsigned char c)
{
    if (c == '\\' || c == '\n' || c == '\t' || c == '\r')
        return 2;
    if (c < 0x20 || c == 0x7F)
        return 4;
    return 1;
}

/* Writes `c` escaped at `out`; returns the bytes written. */
static size_t EscapeByte(unsigned char c, char *out)
{
    static const char kHex[] = "0123456789abcdef";
    switch (c) {
    case '\\': memcpy(out, "\\\\", 2); return 2;
    case '\n': memcpy(out, "\\n", 2); return 2;
    case '\t': memcpy(out, "\\t", 2); return 2;
    case '\r': memcpy(out, "\\r", 2); return 2;
    default: break;
    }
    if (c < 0x20 || c == 0x7F) {
        out[0] = '\\';
        out[1] = 'x';
        out[2] = kHex[c >> 4];
        out[3] = kHex[c & 0xF];
        return 4;
    }
    out[0] = (char)c;
    return 1;
}

/* Formats the message into `small` when it fits, else into a fresh heap
 * block stored in *heap. Returns the message, or NULL on failure. */
static const char *FormatMessage(char *small, size_t smallSize, char **heap,
                                 size_t *length, const char *format, va_list args)
{
    va_list again;
    va_copy(again, args);
    int n = vsnprintf(small, smallSize, format, args);
    if (n < 0) {
        va_end(again);
        return NULL;
    }
    *length = (size_t)n;
    if ((size_t)n < smallSize) {
        va_end(again);
        return small;
    }
    *heap = malloc((size_t)n + 1);
    if (*heap != NULL)
        vsnprintf(*heap, (size_t)n + 1, format, again);
    va_end(again);
    return *heap;
}

/* Writes all of `record` with one write(2); a partial write (a full pipe)
 * goes on from where it stopped. Returns the bytes written or -1. */
static int WriteRecord(const char *record, size_t length)
{
    size_t done = 0;
    while (done < length) {
        ssize_t n = write(STDERR_FILENO, record + done, length - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return done > 0 ? (int)done : -1;
        }
        done += (size_t)n;
    }
    return (int)done;
}

static const char *Text(const char *s)
{
    return s != NULL ? s : "";
}

int quorlith_printf(int level, const char *levelName, const char *module,
                    const char *format, const char *file, int line, ...)
{
    static const char kPrefix[] = "[%d %s] %s %s:%d:";
    char smallMessage[kStackRecord];
    char smallRecord[kStackRecord];
    char *heapMessage = NULL;
    char *heapRecord = NULL;
    size_t messageLength = 0;

    va_list args;
    va_start(args, line);
    const char *message = FormatMessage(smallMessage, sizeof smallMessage, &heapMessage,
                                        &messageLength, format, args);
    va_end(args);
    int prefixLength = snprintf(NULL, 0, kPrefix, level, Text(levelName), Text(module),
                                Text(file), line);
    if (message == NULL || prefixLength < 0) {
        free(heapMessage);
        return -1;
    }

    /* The final newline ends the record; any other is escaped. */
    if (messageLength > 0 && message[messageLength - 1] == '\n')
        --messageLength;
    size_t recordLength = (size_t)prefixLength + 1;
    for (size_t i = 0; i < messageLength; ++i)
        recordLength += EscapedWidth((unsigned char)message[i]);

    int result = -1;
    char *record = smallRecord;
    if (recordLength >= sizeof smallRecord)
        record = heapRecord = malloc(recordLength + 1);
    if (record != NULL) {
        snprintf(record, (size_t)prefixLength + 1, kPrefix, level, Text(levelName),
                 Text(module), Text(file), line);
        char *out = record + prefixLength;
        for (size_t i = 0; i < messageLength; ++i)
            out += EscapeByte((unsigned char)message[i], out);
        *out = '\n';
        result = WriteRecord(record, recordLength);
    }
    free(heapRecord);
    free(heapMessage);
    return result;
}
