#include "tool/crawlpeek/entry_text.h"

#include <charconv>
#include <cstdio>

#include "extra/timestr.h"

namespace {

constexpr size_t kTimeTextSize = 256;
constexpr std::string_view kLinkIndent = "                  ";

// The bytes a C string holding view would print: those before a zero byte.
std::string_view up_to_zero(std::string_view view) {
    return view.substr(0, view.find('\0'));
}

}  // namespace

std::string_view EntryPrinter::TimeText::of(uint32_t t) {
    if (t != time) {
        time = t;
        text.clear();
        if (t != 0) {
            char buf[kTimeTextSize];
            vel_time2str(static_cast<time_t>(t), buf, kTimeTextSize);
            text = buf;
        }
    }
    return text;
}

void EntryPrinter::append_number(int32_t value) {
    char buf[16];
    const std::to_chars_result end = std::to_chars(buf, buf + sizeof buf, value);
    text_.append(buf, end.ptr);
}

void EntryPrinter::append_details(const entry_view &e) {
    text_ += "  referer:         ";
    text_ += e.referer ? *e.referer : std::string_view("starting-point");
    text_ += "\n  progress status: ";
    append_number(e.progress_status);
    text_ += "\n  server status:   ";
    append_number(e.server_status);
    text_ += "\n  depth countdown: ";
    append_number(e.depth_countdown);
    text_ += "\n  md5:             ";
    text_ += up_to_zero(e.md5);
    text_ += "\n  database:        ";
    text_ += e.database;
    text_ += "\n  last_processed:  ";
    text_ += last_processed_.of(e.last_processed);
    text_ += "\n  last_visited:    ";
    text_ += last_visited_.of(e.last_visited);
    text_ += "\n  last_modified:   ";
    text_ += last_modified_.of(e.last_modified);
    text_ += "\n  rd_expires:      ";
    text_ += rd_expires_.of(e.rd_expires);
    text_ += "\n  links:           ";
    append_number(static_cast<int32_t>(e.links.size()));
    text_ += '\n';
    for (std::string_view link : e.links) {
        text_ += kLinkIndent;
        text_ += link;
        text_ += '\n';
    }
    text_ += '\n';
}

void EntryPrinter::print(const entry_view &e, bool details, dump_counters *counters) {
    counters->entries++;
    if (e.last_modified != 0) counters->with_last_modified++;
    if (!up_to_zero(e.md5).empty()) counters->with_md5++;
    text_.assign(e.url);
    text_ += '\n';
    if (details) {
        append_details(e);
        if (!e.links.empty()) {
            counters->with_links++;
            counters->total_links += static_cast<int64_t>(e.links.size());
            for (std::string_view link : e.links) {
                counters->links_size += static_cast<int64_t>(link.size());
            }
        }
    }
    std::fwrite(text_.data(), 1, text_.size(), stdout);
}
