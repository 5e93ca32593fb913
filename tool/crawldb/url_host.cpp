#include "tool/crawldb/url_host.h"

#include <arpa/inet.h>
#include <libpsl.h>
#include <uriparser/Uri.h>

#include <algorithm>

namespace {

// Frees the parser's record of a URL when it goes.
class ParsedUri {
  public:
    explicit ParsedUri(std::string_view text) {
        const char *error_at = nullptr;
        parsed_ = uriParseSingleUriExA(&uri_, text.data(), text.data() + text.size(),
                                       &error_at) == URI_SUCCESS;
    }
    ~ParsedUri() {
        if (parsed_) uriFreeUriMembersA(&uri_);
    }
    ParsedUri(const ParsedUri &) = delete;
    ParsedUri &operator=(const ParsedUri &) = delete;

    const UriUriA *get() const { return parsed_ ? &uri_ : nullptr; }

  private:
    UriUriA uri_{};
    bool parsed_ = false;
};

std::string_view range_text(const UriTextRangeA &range) {
    if (range.first == nullptr || range.afterLast == nullptr) return {};
    return std::string_view(range.first, static_cast<size_t>(range.afterLast - range.first));
}

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
    // The parser wants a pointer even for an empty text.
    if (url.empty()) return std::string();
    const ParsedUri parsed(url);
    const UriUriA *uri = parsed.get();
    if (uri == nullptr) return std::string();
    std::string host(range_text(uri->hostText));
    if (host.empty()) return host;
    std::transform(host.begin(), host.end(), host.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    const bool bracketed = uri->hostData.ip6 != nullptr || uri->hostData.ipFuture.first != nullptr;
    return bracketed ? "[" + host + "]" : host;
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
