// Hosts of URLs, and the registrable domains they belong to.
#ifndef CRAWLPEEK_TOOL_CRAWLDB_URL_HOST_H_
#define CRAWLPEEK_TOOL_CRAWLDB_URL_HOST_H_

#include <string>
#include <string_view>

// The host of url's authority as RFC 3986 delimits it, whatever the path,
// query or fragment hold: without userinfo (up to the authority's last '@')
// or port, ASCII letters in lower case, an IPv6 or future address in its
// brackets. Bytes past ASCII are taken as they are, as an IRI holds them.
// Empty when url has no authority (no "scheme://" or "//" start), or when
// the authority is not one: a host holding a space, a control character or
// another byte RFC 3986 forbids there, a '%' without two hex digits, an
// address literal that is none, or a port that is not digits.
std::string url_host(std::string_view url);

// The registrable domain of host by the public suffix list ("example.co.uk"
// for "www.a.example.co.uk"); host itself when it has none, as an IP address
// or a public suffix has not.
std::string registrable_domain(const std::string &host);

#endif  // CRAWLPEEK_TOOL_CRAWLDB_URL_HOST_H_
