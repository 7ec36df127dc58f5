// Any message (its second half also as the file): one line, at most 4096 bytes, decoding to the record or a
// prefix + marker.
#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "quorlith.h"

#define REQUIRE(holds) ((holds) ? void() : std::abort())

// Length of the character at text[at] (by the C library's UTF-8 decoder) if a record holds it raw, else 0.
static size_t Raw(const std::string &text, size_t at)
{
    wchar_t c = std::mbtowc(nullptr, nullptr, 0);  // resets the decoder; 0 in UTF-8
    const int n = at < text.size() ? std::mbtowc(&c, &text[at], text.size() - at) : 0;
    return n >= 1 && n <= 4 && c <= 0x10FFFF && (c >= 0xA0 || (c >= 0x20 && c < 0x7F && c != '\\')) ? n : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int fds[2];
    static const int saved = dup(2);
    static const bool ready = [] {
        if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr || pipe(fds) != 0)
            return false;
        // The interface takes the descriptor in a pointer. NOLINTNEXTLINE(performance-no-int-to-ptr)
        __sanitizer_set_report_fd(reinterpret_cast<void *>(intptr_t{saved}));
        return true;
    }();
    // The message stops at the first NUL, as the C string the log reads.
    // NOLINTNEXTLINE(readability-redundant-string-cstr)
    const std::string input(reinterpret_cast<const char *>(data), size), message = input.c_str();
    const int redirected = dup2(fds[1], 2);
    const int result = quorlith_printf(1, "E", "M", "%s", &message[message.size() / 2], 7, message.c_str());
    dup2(saved, 2);
    char buffer[8192];
    const ssize_t n = read(fds[0], buffer, sizeof buffer);  // a record that never came hangs here
    REQUIRE(ready && redirected == 2 && n > 0 && n <= 4096 && result == n && buffer[n - 1] == '\n');
    std::string expected = "[1 E] M " + message.substr(message.size() / 2) + ":7:" + message;
    expected.resize(expected.size() - (expected.back() == '\n'));

    // Decoded: \\ \n \t \r \xHH, else characters as they are; no escape where none is needed.
    const std::string record(buffer, static_cast<size_t>(n - 1)), named = "\\\\n\nt\tr\r";
    std::string decoded;
    for (size_t i = 0, length = 0, letter = 0; i < record.size(); i += length) {
        if (record[i] != '\\') {
            REQUIRE((length = Raw(record, i)) > 0);
            decoded.append(record, i, length);
        } else if ((letter = named.find(record[i + 1])) % 2 == 0) {
            decoded += named[letter + 1];
            length = 2;
        } else {
            REQUIRE(record[i + 1] == 'x' && Raw(expected, decoded.size()) == 0);
            decoded += static_cast<char>(std::stoi(record.substr(i + 2, 2), nullptr, 16));
            length = 4;
        }
    }
    REQUIRE(decoded == expected ||
        (n >= 4093 && decoded == expected.substr(0, decoded.size() - 12) + " [truncated]"));
    return 0;
}
