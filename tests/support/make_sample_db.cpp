// Writes a small crawl into a database home for trying crawlpeek out: a site
// of six pages, a "LastProcessTime" record, and a crawl still in progress.
// Usage: make_sample_db <home>
#include <cstdio>
#include <initializer_list>
#include <string>

#include "support/sample_db.h"

namespace {

constexpr uint32_t kCrawlStart = 1796371200;  // 2026-12-04 08:00:00 UTC
constexpr int32_t kDepth = 3;

std::string site(const std::string &path) {
    return "http://www.example.test/" + path;
}

// A page found on referer (none for the starting point), not fetched yet.
StoredRecord found_page(SampleDb &db, const std::string &path, const char *referer) {
    StoredRecord record = StoredRecord::full(site(path));
    if (referer != nullptr) record.referer_id = db.id_of(site(referer));
    record.last_processed = kCrawlStart;
    record.depth_and_status = std::make_pair(referer == nullptr ? kDepth : kDepth - 1, 0);
    return record;
}

void fetched(StoredRecord &record, uint32_t after, uint32_t modified, const char *md5,
             int32_t server_status) {
    record.last_visited = kCrawlStart + after;
    record.last_modified = modified;
    record.rd_expires = record.last_visited + 86400;
    record.progress_status = 4;
    record.md5 = md5;
    record.database = "pages";
    record.depth_and_status->second = server_status;
}

void links(SampleDb &db, StoredRecord &record, std::initializer_list<const char *> paths) {
    for (const char *path : paths) record.link_ids->push_back(db.id_of(site(path)));
}

SampleDb sample_crawl() {
    SampleDb db;
    db.id_of(site(""));  // the starting point is stored first
    StoredRecord home = found_page(db, "", nullptr);
    fetched(home, 5, 1795000000, "9e107d9d372bb6826bd81d3542a419d6", 200);
    links(db, home, {"about.html", "news/", "contact.html"});
    db.add(home);

    StoredRecord about = found_page(db, "about.html", "");
    fetched(about, 9, 0, "e4d909c290d0fb1ca068ffaddf22cbd0", 200);
    links(db, about, {""});
    db.add(about);

    StoredRecord news = found_page(db, "news/", "");
    fetched(news, 14, 1796300000, "d41d8cd98f00b204e9800998ecf8427e", 200);
    links(db, news, {"news/2026-11.html", "news/2026-12.html", ""});
    db.add(news);

    StoredRecord contact = found_page(db, "contact.html", "");
    fetched(contact, 20, 0, "", 404);
    contact.md5_cleared = true;
    db.add(contact);

    StoredRecord november = found_page(db, "news/2026-11.html", "news/");
    fetched(november, 31, 1793600000, "0cc175b9c0f1b6a831c399e269772661", 200);
    db.add(november);

    db.add(found_page(db, "news/2026-12.html", "news/"));

    StoredRecord last_process = StoredRecord::full("LastProcessTime");
    last_process.last_processed = kCrawlStart;
    db.add(last_process);

    db.set_meta(2, static_cast<int32_t>(kCrawlStart), static_cast<int32_t>(db.next_id()), 0);
    return db;
}

}  // namespace

int main(int argc, char *argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: make_sample_db <home>\n");
        return 1;
    }
    SampleDb db = sample_crawl();
    std::string failed = db.write(argv[1]);
    if (!failed.empty()) {
        std::fprintf(stderr, "make_sample_db: %s\n", failed.c_str());
        return 1;
    }
    return 0;
}
