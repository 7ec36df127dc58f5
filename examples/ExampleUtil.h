// Shared by the example programs: reading decimal text, showing a rejected
// expression.
#ifndef QUILLET_EXAMPLES_EXAMPLEUTIL_H
#define QUILLET_EXAMPLES_EXAMPLEUTIL_H

#include <charconv>
#include <cstddef>
#include <cstdio>
#include <system_error>

// Reads all of [first, last) as a decimal T; false if anything is left over
// or the value does not fit.
template <typename T> bool ReadWhole(const char *first, const char *last, T &value)
{
    const auto [end, error] = std::from_chars(first, last, value);
    return first != last && error == std::errc() && end == last;
}

// Prints the `length` bytes at `text` as one line, every byte that is not
// printable ASCII as '?', then a line with a caret under byte `offset`.
inline void ShowWithCaret(const char *text, size_t length, size_t offset)
{
    for (size_t i = 0; i < length; ++i)
        std::putchar(text[i] >= ' ' && text[i] <= '~' ? text[i] : '?');
    std::putchar('\n');
    for (size_t i = 0; i < offset; ++i)
        std::putchar(' ');
    std::puts("^");
}

#endif  // QUILLET_EXAMPLES_EXAMPLEUTIL_H
