// Hosts of URLs, and the registrable domains they belong to.
#ifndef CRAWLPEEK_TOOL_CRAWLDB_URL_HOST_H_
#define CRAWLPEEK_TOOL_CRAWLDB_URL_HOST_H_

#include <string>
#include <string_view>

// The host of url as a URL parser reads it: without userinfo or port, ASCII
// letters in lower case, an IPv6 or future address in its brackets. Empty
// when url has no host or is no URL.
std::string url_host(std::string_view url);

// The registrable domain of host by the public suffix list ("example.co.uk"
// for "www.a.example.co.uk"); host itself when it has none, as an IP address
// or a public suffix has not.
std::string registrable_domain(const std::string &host);

#endif  // CRAWLPEEK_TOOL_CRAWLDB_URL_HOST_H_
