/* Stand-in for the platform logging library: records go to standard error.
 * Each record is built whole in a fixed stack buffer, at most PIPE_BUF bytes
 * long, and handed to one write(2): on a pipe the records of concurrent
 * processes then never interleave, and no record costs a heap allocation.
 * The library is a guest in its caller's process: a reader that has gone
 * costs the caller a result of -1, not a SIGPIPE of the call's own (unless
 * one was pending already, when the two cannot be told apart), and a
 * non-blocking descriptor that is full is waited for, so that a record is
 * never left without its end. */
#include "quorlith.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

enum {
    /* A record, its newline included; PIPE_BUF on Linux. */
    kRecordMax = 4096,
    /* The shortest prefix, "[0 ]  :0:". */
    kShortestPrefix = 9,
    /* Every message byte takes at least one byte of the record, so no more
     * than kRecordMax - 1 - kShortestPrefix of them can fit; one byte more
     * tells whether what fits is followed by nothing but a final newline.
     * A message longer than this view overflows the record within it, so
     * the bytes past it are cut whatever they are. */
    kMessageView = kRecordMax - 1 - kShortestPrefix + 1
};

static const char kMarker[] = " [truncated]";

/* The record being built. Text is added a character at a time, so that a cut
 * never falls inside an escape or a UTF-8 sequence. */
struct Record {
    char bytes[kRecordMax];
    size_t length;
    /* The record's length after the last character that still leaves room
     * for the marker and the newline. */
    size_t cut;
    /* A character did not fit: nothing more goes in. */
    int full;
};

static void Put(struct Record *record, const char *character, size_t count)
{
    if (record->full)
        return;
    if (count > kRecordMax - 1 - record->length) {
        record->full = 1;
        return;
    }
    memcpy(record->bytes + record->length, character, count);
    record->length += count;
    if (record->length <= kRecordMax - 1 - (sizeof kMarker - 1))
        record->cut = record->length;
}

/* Length of the UTF-8 sequence of a character from U+00A0 up (shortest form,
 * no surrogate, at most U+10FFFF) that starts `text`, which holds `size`
 * bytes; 0 when there is none. */
static size_t CharacterLength(const unsigned char *text, size_t size)
{
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    size_t length;
    if (text[0] == 0xC2) {
        length = 2;
        low = 0xA0; /* below: U+0080..U+009F, the C1 controls */
    } else if (text[0] >= 0xC3 && text[0] <= 0xDF) {
        length = 2;
    } else if (text[0] >= 0xE0 && text[0] <= 0xEF) {
        length = 3;
        if (text[0] == 0xE0)
            low = 0xA0; /* below: overlong */
        else if (text[0] == 0xED)
            high = 0x9F; /* above: surrogates */
    } else if (text[0] >= 0xF0 && text[0] <= 0xF4) {
        length = 4;
        if (text[0] == 0xF0)
            low = 0x90; /* below: overlong */
        else if (text[0] == 0xF4)
            high = 0x8F; /* above: past U+10FFFF */
    } else {
        return 0;
    }
    if (size < length || text[1] < low || text[1] > high)
        return 0;
    for (size_t i = 2; i < length; ++i)
        if (text[i] < 0x80 || text[i] > 0xBF)
            return 0;
    return length;
}

/* Adds the first character of `text` (`size` bytes, at least one), escaped
 * when it must be; returns the source bytes it took. */
static size_t PutCharacter(struct Record *record, const unsigned char *text, size_t size)
{
    static const char kHex[] = "0123456789abcdef";
    const unsigned char c = text[0];
    switch (c) {
    case '\\': Put(record, "\\\\", 2); return 1;
    case '\n': Put(record, "\\n", 2); return 1;
    case '\t': Put(record, "\\t", 2); return 1;
    case '\r': Put(record, "\\r", 2); return 1;
    default: break;
    }
    if (c >= 0x20 && c < 0x7F) {
        Put(record, (const char *)text, 1);
        return 1;
    }
    const size_t length = c >= 0x80 ? CharacterLength(text, size) : 0;
    if (length > 0) {
        Put(record, (const char *)text, length);
        return length;
    }
    const char escape[4] = {'\\', 'x', kHex[c >> 4], kHex[c & 0xF]};
    Put(record, escape, sizeof escape);
    return 1;
}

static void PutBytes(struct Record *record, const char *text, size_t size)
{
    const unsigned char *at = (const unsigned char *)text;
    const unsigned char *end = at + size;
    while (at < end && !record->full)
        at += PutCharacter(record, at, (size_t)(end - at));
}

/* A text field of the prefix; null prints as empty. Read only as far as the
 * record has room, so a field of any length costs no more than that. */
static void PutText(struct Record *record, const char *text)
{
    if (text == NULL)
        return;
    const unsigned char *at = (const unsigned char *)text;
    while (*at != '\0' && !record->full)
        at += PutCharacter(record, at, strnlen((const char *)at, 4));
}

/* Plain ASCII, added a byte at a time: a cut may fall between any two. */
static void PutPlain(struct Record *record, const char *text, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        Put(record, text + i, 1);
}

static void PutInt(struct Record *record, int value)
{
    char digits[12];
    char *first = digits + sizeof digits;
    unsigned magnitude = value < 0 ? 0U - (unsigned)value : (unsigned)value;
    do {
        *--first = (char)('0' + magnitude % 10U);
        magnitude /= 10U;
    } while (magnitude != 0);
    if (value < 0)
        *--first = '-';
    PutPlain(record, first, (size_t)(digits + sizeof digits - first));
}

/* Writes all of `bytes` to standard error, with one write(2) unless it is
 * interrupted or cut short; a full non-blocking descriptor is waited for with
 * poll(2), so that a record once started is finished. Returns the bytes
 * written, or -1 when none could be; errno then tells why. */
static int WriteAll(const char *bytes, size_t length)
{
    size_t done = 0;
    while (done < length) {
        ssize_t n = write(STDERR_FILENO, bytes + done, length - done);
        if (n >= 0) {
            done += (size_t)n;
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            struct pollfd writable = {STDERR_FILENO, POLLOUT, 0};
            /* An error or hang-up shows in the next write. */
            if (poll(&writable, 1, -1) >= 0 || errno == EINTR)
                continue;
        } else if (errno == EINTR) {
            continue;
        }
        return done > 0 ? (int)done : -1;
    }
    return (int)done;
}

/* Whether SIGPIPE is pending for the calling thread or for the process. */
static int SigpipePending(void)
{
    sigset_t pending;
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

/* WriteAll with SIGPIPE blocked in the calling thread. A write to a pipe or
 * socket whose reader has gone fails with EPIPE and raises a SIGPIPE directed
 * at this thread; only then is one SIGPIPE taken back, and sigtimedwait takes
 * the thread's before the process's, so one sent to the process stays. When
 * SIGPIPE was pending already, the thread's may be the caller's own (the two
 * would be one): nothing is taken back then. A SIGPIPE sent from elsewhere
 * during a write that did not fail with EPIPE is left for the caller. */
static int WriteWithoutSigpipe(const char *bytes, size_t length)
{
    sigset_t sigpipe;
    sigset_t callerMask;
    sigemptyset(&sigpipe);
    sigaddset(&sigpipe, SIGPIPE);
    if (pthread_sigmask(SIG_BLOCK, &sigpipe, &callerMask) != 0)
        return -1;
    const int pendingBefore = SigpipePending();
    const int written = WriteAll(bytes, length);
    const int writeErrno = errno;
    /* Short of the record, errno is the failed write's; record lengths fit an int. */
    if (written != (int)length && writeErrno == EPIPE && !pendingBefore) {
        const struct timespec now = {0, 0};
        while (sigtimedwait(&sigpipe, NULL, &now) < 0 && errno == EINTR)
            continue;
    }
    pthread_sigmask(SIG_SETMASK, &callerMask, NULL);
    errno = writeErrno;
    return written;
}

int quorlith_printf(
    int level, const char *levelName, const char *module, const char *format, const char *file, int line, ...)
{
    char message[kMessageView + 1];
    va_list args;
    va_start(args, line);
    const int formatted = vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (formatted < 0)
        return -1;

    /* The final newline ends the record; any other is escaped. */
    size_t length = (size_t)formatted;
    if (length > 0 && length <= kMessageView && message[length - 1] == '\n')
        --length;
    const size_t seen = length < kMessageView ? length : kMessageView;

    struct Record record;
    record.length = record.cut = 0;
    record.full = 0;
    PutPlain(&record, "[", 1);
    PutInt(&record, level);
    PutPlain(&record, " ", 1);
    PutText(&record, levelName);
    PutPlain(&record, "] ", 2);
    PutText(&record, module);
    PutPlain(&record, " ", 1);
    PutText(&record, file);
    PutPlain(&record, ":", 1);
    PutInt(&record, line);
    PutPlain(&record, ":", 1);
    PutBytes(&record, message, seen);
    if (record.full) {
        memcpy(record.bytes + record.cut, kMarker, sizeof kMarker - 1);
        record.length = record.cut + sizeof kMarker - 1;
    }
    record.bytes[record.length] = '\n';
    return WriteWithoutSigpipe(record.bytes, record.length + 1);
}
