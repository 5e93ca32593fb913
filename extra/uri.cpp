#include "extra/uri.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr char kEscaped[] = "% +=?#:+&*\"'<>;\t\r\n";
constexpr char kHex[] = "0123456789abcdef";

// c is never 0 here, which strchr would find as the set's terminator.
bool needs_escape(unsigned char c) {
    return c >= 0x80 || std::strchr(kEscaped, c) != nullptr;
}

// The value of one character of an escape: digits by their code, letters
// case-blind from 'A' = 10.
int escape_value(unsigned char c) {
    return c < 'A' ? c - '0' : (c & ~0x20) - 55;
}

}  // namespace

char *libvel_uri_escape(char *dst, const char *src) {
    const size_t n = std::strlen(src);
    if (dst == nullptr) {
        dst = static_cast<char *>(std::malloc(3 * n + 1));
        if (dst == nullptr) return nullptr;
    }
    char *out = dst;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(src[i]);
        if (needs_escape(c)) {
            *out++ = '%';
            *out++ = kHex[c >> 4];
            *out++ = kHex[c & 0xF];
        } else {
            *out++ = static_cast<char>(c);
        }
    }
    *out = '\0';
    return dst;
}

void libvel_uri_unescape(char *text) {
    char *out = text;
    for (const char *in = text; *in != '\0';) {
        if (in[0] == '%' && in[1] != '\0' && in[2] != '\0') {
            const int value = 16 * escape_value(static_cast<unsigned char>(in[1])) +
                              escape_value(static_cast<unsigned char>(in[2]));
            *out++ = static_cast<char>(value & 0xFF);
            in += 3;
        } else {
            *out++ = *in++;
        }
    }
    *out = '\0';
}
