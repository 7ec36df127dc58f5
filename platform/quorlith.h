/* Platform logging library: one printf-style entry point for every record. */
#ifndef QUORLITH_H
#define QUORLITH_H

#ifdef __cplusplus
extern "C" {
#endif

/* Formats `format` with the trailing arguments and writes one record to
 * standard error, with one write(2) unless said otherwise below:
 *   [<level> <levelName>] <module> <file>:<line>:<message>
 * followed by a newline. A null levelName, module or file prints as empty.
 *
 * The record is always exactly one line. In the message and in the text
 * fields a backslash is written "\\", a newline, tab and carriage return
 * "\n", "\t" and "\r", any other byte below 0x20 and 0x7F "\xHH" (lowercase
 * hex). A byte from 0x80 up is written as it is only inside a valid UTF-8
 * sequence (shortest form, no surrogate, at most U+10FFFF) of a character
 * from U+00A0 up; every other such byte, C1 controls (U+0080..U+009F) and
 * invalid or truncated sequences included, is written "\xHH", one escape a
 * byte, and decoding goes on at the next byte. A final newline of the message
 * ends the record; a message without one gets one.
 *
 * A record, its newline included, is at most 4096 bytes (PIPE_BUF), so that
 * one write to a pipe is atomic. A longer one is cut after its last whole
 * character (never inside an escape or a UTF-8 sequence) that leaves room
 * for " [truncated]", which then comes right before the newline.
 *
 * A write that a signal interrupts, or that takes only part of the record,
 * goes on with the rest. When standard error is non-blocking and full, the
 * call waits with poll(2) until it is writable and goes on, so that a record
 * once started is finished and the next one starts on a line of its own.
 *
 * A write to a pipe or socket whose reader has gone fails (EPIPE). SIGPIPE
 * is blocked in the calling thread for the write, and the thread's mask is
 * then restored; no signal disposition is changed. The failed write raises a
 * SIGPIPE pending for the calling thread. When a write failed with EPIPE and
 * SIGPIPE was pending neither for the thread nor for the process as the write
 * began, the call consumes one SIGPIPE pending for the thread: the write's
 * own, which then reaches no handler. Signals do not queue, so a SIGPIPE sent
 * to the calling thread (pthread_kill) during that write is one with the
 * write's own and is consumed with it. Every other SIGPIPE stays pending and,
 * once the mask is restored, reaches the caller's disposition unless the
 * caller blocks it: one sent to the process (kill) during the write, any sent
 * during a write that did not fail with EPIPE, and one pending as the write
 * began; beside that one the write's own stays pending too (one with it if it
 * was the thread's, a second one if it was the process's).
 *
 * Returns the number of bytes written, or -1 when nothing could be written
 * (errno tells why) or the message cannot be formatted (nothing is written
 * then). */
int quorlith_printf(int level, const char *levelName, const char *module, const char *format,
    const char *file, int line, ...) __attribute__((format(printf, 4, 7)));

#ifdef __cplusplus
}
#endif

#endif /* QUORLITH_H */
