#include "tool/crawldb/url_host.h"

#include <arpa/inet.h>
#include <libpsl.h>

#include <algorithm>
#include <optional>

namespace {

bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_hex(char c) {
    return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// RFC 3986's unreserved and sub-delims, the characters a reg-name and an
// IPvFuture's tail may hold besides percent escapes.
bool is_name_char(char c) {
    return is_alpha(c) || is_digit(c) || std::string_view("-._~!$&'()*+,;=").find(c) !=
                                             std::string_view::npos;
}

// The authority of url: what follows "scheme://" (or a leading "//") up to
// the first '/', '?' or '#'; none when url has no authority.
std::optional<std::string_view> authority_of(std::string_view url) {
    size_t at = 0;
    if (!url.starts_with("//")) {
        // scheme = ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ), then ':'.
        if (url.empty() || !is_alpha(url[0])) return std::nullopt;
        at = 1;
        while (at < url.size() && (is_alpha(url[at]) || is_digit(url[at]) || url[at] == '+' ||
                                   url[at] == '-' || url[at] == '.')) {
            ++at;
        }
        if (at >= url.size() || url[at] != ':') return std::nullopt;
        ++at;
        if (url.substr(at, 2) != "//") return std::nullopt;
    }
    at += 2;
    const size_t end = url.find_first_of("/?#", at);
    return url.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
}

// A reg-name as an IRI may hold it: name characters, percent escapes, and
// any byte past ASCII.
bool is_reg_name(std::string_view host) {
    for (size_t i = 0; i < host.size(); ++i) {
        const char c = host[i];
        if (c == '%') {
            if (i + 2 >= host.size() || !is_hex(host[i + 1]) || !is_hex(host[i + 2])) return false;
            i += 2;
        } else if (static_cast<unsigned char>(c) < 0x80 && !is_name_char(c)) {
            return false;
        }
    }
    return true;
}

// The inside of an IP-literal's brackets: an IPv6 address or an IPvFuture
// ("v" 1*HEXDIG "." 1*( unreserved / sub-delims / ":" )).
bool is_address_literal(std::string_view inside) {
    if (!inside.empty() && (inside[0] == 'v' || inside[0] == 'V')) {
        const size_t dot = inside.find('.');
        if (dot == std::string_view::npos || dot < 2 || dot + 1 == inside.size()) return false;
        return std::all_of(inside.begin() + 1, inside.begin() + dot, is_hex) &&
               std::all_of(inside.begin() + dot + 1, inside.end(),
                           [](char c) { return is_name_char(c) || c == ':'; });
    }
    const std::string text(inside);
    in6_addr address;
    return text.find('\0') == std::string::npos && inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

bool is_port(std::string_view port) { return std::all_of(port.begin(), port.end(), is_digit); }

// The newest list the system has, else the one built into the library.
const psl_ctx_t *suffix_list() {
    static const psl_ctx_t *const list = [] {
        const psl_ctx_t *latest = psl_latest(nullptr);
        return latest != nullptr ? latest : psl_builtin();
    }();
    return list;
}

}  // namespace

std::string url_host(std::string_view url) {
    const std::optional<std::string_view> authority = authority_of(url);
    if (!authority) return std::string();
    // userinfo holds no '@' of its own; a stray one is taken as part of it.
    std::string_view host = *authority;
    if (const size_t at = host.rfind('@'); at != std::string_view::npos) host.remove_prefix(at + 1);
    if (host.starts_with('[')) {
        const size_t close = host.find(']');
        if (close == std::string_view::npos || !is_address_literal(host.substr(1, close - 1))) {
            return std::string();
        }
        const std::string_view rest = host.substr(close + 1);
        if (!rest.empty() && (rest[0] != ':' || !is_port(rest.substr(1)))) return std::string();
        host = host.substr(0, close + 1);
    } else {
        if (const size_t colon = host.find(':'); colon != std::string_view::npos) {
            if (!is_port(host.substr(colon + 1))) return std::string();
            host = host.substr(0, colon);
        }
        if (!is_reg_name(host)) return std::string();
    }
    std::string lower(host);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return lower;
}

std::string registrable_domain(const std::string &host) {
    // An address is its own domain; the list would take its last numbers
    // for a suffix.
    in_addr ip4;
    if (host.empty() || host.front() == '[' || inet_pton(AF_INET, host.c_str(), &ip4) == 1) {
        return host;
    }
    const psl_ctx_t *list = suffix_list();
    const char *domain = list != nullptr ? psl_registrable_domain(list, host.c_str()) : nullptr;
    return domain != nullptr ? std::string(domain) : host;
}
