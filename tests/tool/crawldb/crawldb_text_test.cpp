// crawldb's pieces for machine-readable text: JSON strings from any bytes,
// lists of numbers and ranges, and the hosts of URLs.
#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "tool/crawldb/crawldb_fixture.h"
#include "tool/crawldb/date_option.h"
#include "tool/crawldb/id_index.h"
#include "tool/crawldb/int_ranges.h"
#include "tool/crawldb/text_out.h"
#include "tool/crawldb/url_host.h"

namespace {

using namespace std::string_literals;

// The string as JSON's parser reads it back; it refuses bad UTF-8.
std::string read_back(std::string_view text, BadBytes bad) {
    std::string out = "[";
    append_json_string(&out, text, bad);
    return nlohmann::json::parse(out + "]")[0].get<std::string>();
}

TEST(CrawldbTextTest, JsonStringsReadBackAsTheirTextWithBadBytesReplaced) {
    // Control characters and the smallest and largest sequence of each
    // length, those around the surrogates among them.
    for (const std::string &valid :
         {"plain /?&= q\"b\\s"s, "\x01\x1F\x7F\n\t\r"s + '\0' + "z",
          "\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xED\x9F\xBF\xEE\x80\x80"s,
          "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"s, ""s}) {
        EXPECT_EQ(read_back(valid, BadBytes::kPercent), valid) << testing::PrintToString(valid);
        EXPECT_EQ(read_back(valid, BadBytes::kReplacement), valid);
    }
    const std::string r = "\xEF\xBF\xBD";  // U+FFFD
    const struct {
        std::string in, percent, replaced;
    } bad[] = {{"\xC0\xAF", "%C0%AF", r + r},                        // overlong '/'
               {"\xC1\xBF", "%C1%BF", r + r},                        // overlong
               {"\xE0\x9F\xBF", "%E0%9F%BF", r + r + r},             // overlong, 3 bytes
               {"\xF0\x8F\xBF\xBF", "%F0%8F%BF%BF", r + r + r + r},  // overlong, 4 bytes
               {"\xED\xA0\x80", "%ED%A0%80", r + r + r},             // a surrogate
               {"\xF4\x90\x80\x80", "%F4%90%80%80", r + r + r + r},  // past U+10FFFF
               {"\xF5\x80\x80\x80", "%F5%80%80%80", r + r + r + r},
               {"a\x80z", "a%80z", "a" + r + "z"},                // a stray continuation
               {"a\xE2\x82", "a%E2%82", "a" + r + r},             // cut at the end
               {"\xF0\x9F\x98z", "%F0%9F%98z", r + r + r + "z"},  // cut before ASCII
               {"\xC3\xC3\xA9", "%C3\xC3\xA9", r + "\xC3\xA9"}};  // a lead, then a whole sequence
    for (const auto &row : bad) {
        EXPECT_EQ(read_back(row.in, BadBytes::kPercent), row.percent) << row.percent;
        EXPECT_EQ(read_back(row.in, BadBytes::kReplacement), row.replaced) << row.percent;
    }
}

TEST(CrawldbTextTest, EscapedTextGivesItsBytesBackAndFlagsOnlyAmbiguousUrls) {
    for (const std::string &text : {"p%FFx"s, "p\xFFx"s, "%"s, "%25"s, "a b\tc\n\x7F"s + '\0',
                                     "\xC3\xA9%\xC3"s, "(none)"s, ""s, "\xF0\x9F\x98\x80 %zz"s}) {
        const std::string shown = testing::PrintToString(text);
        EXPECT_EQ(percent_decoded(read_back(text, BadBytes::kEscaped)), text) << shown;
        std::string field;
        append_tsv_field(&field, text, BadBytes::kEscaped);
        EXPECT_EQ(field.find_first_of(" \t\n"), std::string::npos) << shown;
        EXPECT_EQ(percent_decoded(field), text) << shown;
        EXPECT_EQ(percent_decoded(json_name(text)), text) << shown;
        const std::string name = text_name(text);
        if (text.empty()) {
            EXPECT_EQ(name, "(none)");
        } else {
            EXPECT_EQ(percent_decoded(name), text) << shown;
            EXPECT_NE(name, "(none)") << shown;
        }
    }
    // Which URLs a plain writer would show like another URL.
    const struct {
        std::string url;
        bool in_json, in_tsv;
    } urls[] = {{"http://a/%FF", false, false}, {"http://a/\xC3\xA9", false, false},
                {"http://a/\xFF", true, true},  {"http://a/a b", false, true},
                {"http://a/\x7F", false, true}, {"http://a/\xC3", true, true},
                {"http://a/\xE2\x82\x41", true, true}};  // a third byte that continues nothing
    for (const auto &row : urls) {
        EXPECT_EQ(url_needs_escaping(row.url, true), row.in_json) << row.url;
        EXPECT_EQ(url_needs_escaping(row.url, false), row.in_tsv) << row.url;
    }
}

TEST(CrawldbTextTest, RangesTakeListsOfNumbersAndRangesAndNothingElse) {
    const struct {
        const char *text;
        std::vector<int64_t> in, out;
    } accepted[] = {{"404", {404}, {403, 405}},
                    {"404,500-599", {404, 500, 550, 599}, {499, 600, 405}},
                    {"-5--1", {-5, -3, -1}, {-6, 0}},
                    {"-2147483648-2147483647", {INT32_MIN, 0, INT32_MAX}, {}},
                    {"7-7,1-2", {7, 1, 2}, {0, 3, 6, 8}}};
    for (const auto &row : accepted) {
        IntRanges ranges;
        ASSERT_TRUE(ranges.parse(row.text)) << row.text;
        for (int64_t v : row.in) EXPECT_TRUE(ranges.contains(v)) << row.text << " " << v;
        for (int64_t v : row.out) EXPECT_FALSE(ranges.contains(v)) << row.text << " " << v;
    }
    for (const char *text : {"", ",", "1,", ",1", "1,,2", " 1", "1 ", "1, 2", "5-3", "1-", "-",
                             "1-2-3", "a", "4o4", "+1", "2147483648", "-2147483649", "1--"}) {
        IntRanges ranges;
        ASSERT_TRUE(ranges.parse("404"));
        EXPECT_FALSE(ranges.parse(text)) << text;
        EXPECT_TRUE(ranges.contains(404)) << text;  // the set is as it was
    }
}

TEST(CrawldbTextTest, DatesAreOneDayAndClockInEveryFormOrRefused) {
    const std::pair<const char *, int64_t> accepted[] = {
        {"1 Jan 1970", 0}, {"0", 0}, {"1970-01-01", 0}, {"7 Dec 2026", 1796601600},
        {"2026-12-07", 1796601600}, {"1796601600", 1796601600},
        {"05-Dec-2026,09:01:01", 1796461261}, {"Mon, 07 Dec 2026 18:24:26 GMT", 1796667866},
        {"Monday, 07 December 2026 18:24:26 UTC", 1796667866},
        {"7 Dec 2026 6:24:26 pm", 1796667866}, {"  7 dec 2026 10:00 +0200 ", 1796630400},
        {"7 Dec 2026 10:00 GMT+0200", 1796630400}, {"7 Dec 2026 6:00 -02", 1796630400}, {"29 Feb 2024", 1709164800},
        {"2026-12-07T18:24:26Z", 1796667866}, {"2026-12-07T20:24:26+02:00", 1796667866},
        {"2026-12-07T16:24:26-02:00", 1796667866}};
    for (const auto &[text, seconds] : accepted) EXPECT_EQ(parse_date_option(text), seconds) << text;
    // Impossible days and clocks, words left over, fields given twice,
    // a weekday that is not the date's, missing fields.
    for (const char *text :
         {"31 Feb 2026", "29 Feb 2026", "31 Apr 2026", "0 Dec 2026", "7 Dec 2026 25:99",
          "7 Dec 2026 24:00", "7 Dec 2026 23:60", "7 Dec 2026 10:00:60", "13:00 pm 7 Dec 2026",
          "garbage 7 Dec 2026 junk", "7 Dec 2026 junk", "7 Decimal 2026", "7 Dec. 2026",
          "7th Dec 2026", "7 Dec 2026 8 Dec", "7 Dec 2026 2027", "7 Dec 2026 10:00 11:00",
          "Tue, 07 Dec 2026", "Mon Tue 07 Dec 2026", "7 Dec 2026 UTC GMT", "7 Dec 2026 +0100 UTC",
          "7 Dec 2026 UTC UTC", "7 Dec 2026 +2400", "7 Dec 2026 -0160", "7 Dec 2026 +0100 -0100", "7 Dec 2026 10:00:", "7 Dec 2026 !", "Dec 2026", "7 Dec", "",
          "2026-02-31", "2026-12-07T24:00", "2026-12-07T10:00Zjunk", "2026-12-07T10:00*02:00", "-1", "4294967296"}) {
        EXPECT_EQ(parse_date_option(text), std::nullopt) << text;
    }
}

TEST(CrawldbTextTest, AnIdIndexFindsEveryIdAfterGaps) {
    IdIndex index;
    const uint32_t ids[] = {1, 2, 5, 6, 9};
    for (size_t i = 0; i < std::size(ids); ++i) EXPECT_EQ(index.add(ids[i]), i);
    for (size_t i = 0; i < std::size(ids); ++i) EXPECT_EQ(index.find(ids[i]), i) << ids[i];
    for (uint32_t absent : {0u, 3u, 7u, 10u}) EXPECT_EQ(index.find(absent), IdIndex::kNone);
    EXPECT_EQ(index.last(), 9u);
}

TEST(CrawldbTextTest, HostsComeFromTheAuthorityWhateverThePathHolds) {
    // More in the host table of crawldb's statistics.
    const std::pair<std::string, std::string> hosts[] = {
        // Paths, queries and fragments that no URL parser accepts.
        {"http://a.test/b c", "a.test"}, {"http://a.test/\xC3\xA9", "a.test"},
        {"http://a.test/\xE9t\xE9", "a.test"}, {"http://a.test/{x}", "a.test"},
        {"http://a.test/%zz", "a.test"}, {"http://a.test/\xFF", "a.test"},
        {"http://a.test?q=\xFF", "a.test"}, {"http://a.test#f g", "a.test"},
        {"http://a.test/"s + '\0' + "x", "a.test"},
        // Userinfo, ports, case, address literals, a network-path reference.
        {"http://u:p@B.Test:81/", "b.test"}, {"http://u@v@c.test/", "c.test"},
        {"http://a.test:/", "a.test"}, {"HTTPS://a.b./", "a.b."}, {"//Host.test/p", "host.test"},
        {"http://[2001:DB8::1]:8080/x y", "[2001:db8::1]"}, {"http://[v1.Fe]/", "[v1.fe]"},
        {"http://a%2Eb/", "a%2eb"}, {"http://b\xC3\xBC" "cher.de/", "b\xC3\xBC" "cher.de"},
        {"http://192.0.2.7:80", "192.0.2.7"}, {"svn.ssh://S.test/", "s.test"},
        // No authority, or none RFC 3986 reads.
        {"file:///etc/hosts", ""}, {"mailto:x@y", ""}, {"", ""}, {"1http://a/", ""},
        {"http:", ""}, {"http:/a/", ""}, {"http://[::1/", ""}, {"http://[zz]/", ""},
        {"http://[::1]x/", ""}, {"http://[v.x]/", ""}, {"http://a b/", ""}, {"http://a.test:8x/", ""},
        {"http://a%zz/", ""}, {"http://a%2/", ""}, {"http://a{b}/", ""}, {"http://a%41{b/", ""},
        {"http://a"s + '\0' + "b/", ""}};
    for (const auto &[url, host] : hosts) EXPECT_EQ(url_host(url), host) << url;
    const std::pair<std::string, std::string> domains[] = {
        {"a.b.example.com", "example.com"}, {"example.com", "example.com"}, {"co.uk", "co.uk"}};
    for (const auto &[host, domain] : domains) EXPECT_EQ(registrable_domain(host), domain) << host;
}

}  // namespace
