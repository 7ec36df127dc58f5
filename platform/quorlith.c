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

/* Where a record's prefix goes: bytes are written at `at`, or only counted
 * when `at` is NULL. */
struct Sink {
    char *at;
    size_t length;
};

static void PutBytes(struct Sink *sink, const char *bytes, size_t count)
{
    if (sink->at != NULL)
        memcpy(sink->at + sink->length, bytes, count);
    sink->length += count;
}

static void PutText(struct Sink *sink, const char *text)
{
    PutBytes(sink, text, strlen(text));
}

static void PutInt(struct Sink *sink, int value)
{
    char digits[12];
    char *first = digits + sizeof digits;
    unsigned magnitude = value < 0 ? 0u - (unsigned)value : (unsigned)value;
    do {
        *--first = (char)('0' + magnitude % 10u);
        magnitude /= 10u;
    } while (magnitude != 0);
    if (value < 0)
        *--first = '-';
    PutBytes(sink, first, (size_t)(digits + sizeof digits - first));
}

/* Writes "[<level> <levelName>] <module> <file>:<line>:" at `out`, or only
 * measures it when `out` is NULL; returns its length. Built by hand rather
 * than with printf, which would cost more than the rest of the record. */
static size_t PutPrefix(char *out, int level, const char *levelName, const char *module,
                        const char *file, int line)
{
    struct Sink sink = {out, 0};
    PutText(&sink, "[");
    PutInt(&sink, level);
    PutText(&sink, " ");
    PutText(&sink, Text(levelName));
    PutText(&sink, "] ");
    PutText(&sink, Text(module));
    PutText(&sink, " ");
    PutText(&sink, Text(file));
    PutText(&sink, ":");
    PutInt(&sink, line);
    PutText(&sink, ":");
    return sink.length;
}

int quorlith_printf(int level, const char *levelName, const char *module,
                    const char *format, const char *file, int line, ...)
{
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
    size_t prefixLength = PutPrefix(NULL, level, levelName, module, file, line);
    if (message == NULL) {
        free(heapMessage);
        return -1;
    }

    /* The final newline ends the record; any other is escaped. */
    if (messageLength > 0 && message[messageLength - 1] == '\n')
        --messageLength;
    size_t recordLength = prefixLength + 1;
    for (size_t i = 0; i < messageLength; ++i)
        recordLength += EscapedWidth((unsigned char)message[i]);

    int result = -1;
    char *record = smallRecord;
    if (recordLength >= sizeof smallRecord)
        record = heapRecord = malloc(recordLength + 1);
    if (record != NULL) {
        char *out = record + PutPrefix(record, level, levelName, module, file, line);
        for (size_t i = 0; i < messageLength; ++i)
            out += EscapeByte((unsigned char)message[i], out);
        *out = '\n';
        result = WriteRecord(record, recordLength);
    }
    free(heapRecord);
    free(heapMessage);
    return result;
}
