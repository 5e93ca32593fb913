// URI escaping on any text: escaping then unescaping gives the text back,
// an escaped text holds none of the escaped bytes, and unescaping any text
// stays within it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "extra/uri.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Escaping works on C strings: the text up to its first zero byte.
    const std::string text(reinterpret_cast<const char *>(data),
                           strnlen(reinterpret_cast<const char *>(data), size));
    char *escaped = libvel_uri_escape(nullptr, text.c_str());
    if (escaped == nullptr) return 0;
    for (const char *p = escaped; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c >= 0x80 || std::strchr(" +=?#:&*\"'<>;\t\r\n", c) != nullptr) __builtin_trap();
    }
    libvel_uri_unescape(escaped);
    if (text != escaped) __builtin_trap();
    std::free(escaped);

    std::string raw(reinterpret_cast<const char *>(data), size);
    libvel_uri_unescape(raw.data());
    return 0;
}
