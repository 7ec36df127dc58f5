// Shared by the example programs: reading decimal text, showing a rejected
// expression.
#ifndef QUILLET_EXAMPLES_EXAMPLEUTIL_H
#define QUILLET_EXAMPLES_EXAMPLEUTIL_H

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <string>
#include <system_error>

// Reads all of [first, last) as a decimal T; false if anything is left over
// or the value does not fit.
template <typename T> bool ReadWhole(const char *first, const char *last, T &value)
{
    const auto [end, error] = std::from_chars(first, last, value);
    return first != last && error == std::errc() && end == last;
}

// The `length` bytes at `text` as one line, every byte that is not printable
// ASCII as '?', then a line with a caret under byte `offset`.
inline std::string CaretLines(const char *text, size_t length, size_t offset)
{
    std::string lines(text, length);
    std::replace_if(
        lines.begin(), lines.end(), [](char byte) { return byte < ' ' || byte > '~'; }, '?');
    return lines + "\n" + std::string(offset, ' ') + "^\n";
}

#endif  // QUILLET_EXAMPLES_EXAMPLEUTIL_H
