#include "tool/reading/spilled_ranges.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "robot/id_indirect.h"
#include "robot/record_walk.h"
#include "robot/vurl_record.h"

namespace {

// Each spill is read through a buffer of its own.
constexpr size_t kReaderBuffer = size_t{64} << 10;
// More ids than a stored value can hold: a count past it is damage.
constexpr uint32_t kMaxIds = UINT32_MAX / 4;

void put_u32(FILE *file, uint32_t value) {
    std::fwrite(&value, sizeof value, 1, file);
}

void put_text(FILE *file, std::string_view text) {
    put_u32(file, static_cast<uint32_t>(text.size()));
    std::fwrite(text.data(), 1, text.size(), file);
}

// Reads of a scratch file front to back; false at its end, or where it was
// cut short.
bool get_u32(FILE *file, uint32_t *value) {
    return std::fread(value, sizeof *value, 1, file) == 1;
}

bool get_text(FILE *file, std::string *text) {
    uint32_t size = 0;
    if (!get_u32(file, &size)) return false;
    text->resize(size);
    return std::fread(text->data(), 1, size, file) == size;
}

}  // namespace

// A record's key and the ids it refers to, as the id list holds them.
struct SpilledRanges::Ids {
    std::string key;
    uint32_t has_referer = 0;
    uint32_t referer = 0;
    std::vector<uint32_t> links;

    void write(FILE *file) const {
        put_text(file, key);
        put_u32(file, has_referer);
        put_u32(file, referer);
        put_u32(file, static_cast<uint32_t>(links.size()));
        std::fwrite(links.data(), sizeof(uint32_t), links.size(), file);
    }

    bool read(FILE *file) {
        uint32_t count = 0;
        if (!get_text(file, &key) || !get_u32(file, &has_referer) || !get_u32(file, &referer) ||
            !get_u32(file, &count) || count > kMaxIds) {
            return false;
        }
        links.resize(count);
        return std::fread(links.data(), sizeof(uint32_t), count, file) == count;
    }
};

// One range's spill, read from its own offset of the shared file.
class SpilledRanges::Reader {
  public:
    Reader(int fd, off_t begin, off_t end) : fd_(fd), at_(begin), end_(end), buffer_(kReaderBuffer) {
        next_record();
    }

    // Appends what the spill holds for the record under key, passing over
    // records before it (which the printing walk no longer sees).
    void take(std::string_view key, std::vector<Entry> *entries, std::string *text) {
        while (has_record_ && key_ < key) {
            if (!read_entries(nullptr, nullptr)) return;
            next_record();
        }
        if (!has_record_ || key_ != key) return;
        if (read_entries(entries, text)) next_record();
    }

  private:
    bool read(void *to, size_t size) {
        char *out = static_cast<char *>(to);
        while (size > 0) {
            if (used_ == filled_) {
                const size_t want = static_cast<size_t>(std::min<off_t>(
                    static_cast<off_t>(buffer_.size()), end_ - at_));
                const ssize_t got = want == 0 ? 0 : pread(fd_, buffer_.data(), want, at_);
                if (got <= 0) return false;
                at_ += got;
                used_ = 0;
                filled_ = static_cast<size_t>(got);
            }
            const size_t piece = std::min(size, filled_ - used_);
            std::memcpy(out, buffer_.data() + used_, piece);
            used_ += piece;
            out += piece;
            size -= piece;
        }
        return true;
    }

    bool read_u32(uint32_t *value) { return read(value, sizeof *value); }

    void next_record() {
        uint32_t size = 0;
        has_record_ = read_u32(&size) && size <= end_ - at_ + (filled_ - used_);
        if (!has_record_) return;
        key_.resize(size);
        has_record_ = read(key_.data(), size) && read_u32(&count_);
    }

    // Reads the current record's entries, into entries and text when given;
    // false, ending the spill, when it is cut short.
    bool read_entries(std::vector<Entry> *entries, std::string *text) {
        for (uint32_t i = 0; i < count_; ++i) {
            Entry entry{};
            uint32_t size = 0;
            if (!read_u32(&entry.position) || !read_u32(&entry.id) || !read_u32(&entry.bucket) ||
                !read_u32(&size) || size > end_ - at_ + (filled_ - used_)) {
                return has_record_ = false;
            }
            std::string &to = text != nullptr ? *text : scratch_;
            if (text == nullptr) scratch_.clear();
            entry.offset = to.size();
            entry.size = size;
            to.resize(to.size() + size);
            if (!read(to.data() + entry.offset, size)) return has_record_ = false;
            if (entries != nullptr) entries->push_back(entry);
        }
        return true;
    }

    int fd_;
    off_t at_;  // where the buffer's next fill starts
    off_t end_;
    std::vector<char> buffer_;
    size_t used_ = 0;
    size_t filled_ = 0;
    bool has_record_ = false;
    std::string key_;
    uint32_t count_ = 0;
    std::string scratch_;
};

void SpilledRanges::add_url(const TempFile &urls, uint32_t id, std::string_view url) {
    if (urls.file() == nullptr) return;
    put_u32(urls.file(), id);
    put_text(urls.file(), url);
}

SpilledRanges::SpilledRanges(VisitedUrlTable *table, const TempFile &urls) {
    FILE *const ids = ids_.file();
    FILE *const out = spills_.file();
    FILE *const in = urls.file();
    // Without scratch files every id past the table is read from the file.
    if (ids == nullptr || out == nullptr || in == nullptr || vdb_url == nullptr) return;

    // The first range, still in the table, is resolved while the ids are listed.
    off_t begin = ftello(out);
    {
        RecordWalk walk(vdb_url);
        std::string_view key;
        std::string_view value;
        visited_url_fields fields;
        Ids record;
        while (walk.next(&key, &value)) {
            if (!visited_url_parse(value.data(), value.size(), &fields)) continue;
            if (!fields.has_referer && fields.link_id_count == 0) continue;
            record.key.assign(key);
            record.has_referer = fields.has_referer ? 1 : 0;
            record.referer = fields.referer_id;
            record.links.resize(fields.link_id_count);
            for (size_t i = 0; i < fields.link_id_count; ++i) record.links[i] = fields.link_id(i);
            record.write(ids);
            spill(record, *table);
        }
    }
    close_spill(begin);

    // Then each range of the URLs past the budget, in id order.
    std::rewind(in);
    uint32_t id = 0;
    std::string url;
    bool pending = get_u32(in, &id) && get_text(in, &url);
    auto next_url = [&] { pending = get_u32(in, &id) && get_text(in, &url); };
    while (pending) {
        table->restart(id);
        uint32_t end = id;
        while (pending && table->add(id, url)) {
            end = id == UINT32_MAX ? id : id + 1;
            next_url();
        }
        table->close(end);
        if (end == table->base_ids()) {
            // A URL larger than the whole budget is read from the file.
            next_url();
            continue;
        }
        if (!pending) break;  // the last range stays in the table for the printing walk
        begin = ftello(out);
        std::rewind(ids);
        Ids record;
        while (record.read(ids)) spill(record, *table);
        close_spill(begin);
    }
}

SpilledRanges::~SpilledRanges() = default;

void SpilledRanges::spill(const Ids &record, const VisitedUrlTable &table) {
    FILE *const out = spills_.file();
    uint32_t count = 0;
    resolved_url found;
    auto found_at = [&](uint32_t position) {
        const uint32_t id = position == 0 ? record.referer : record.links[position - 1];
        if (position == 0 && record.has_referer == 0) return false;
        return table.find_in_memory(id, &found);
    };
    const uint32_t positions = static_cast<uint32_t>(record.links.size()) + 1;
    for (uint32_t position = 0; position < positions; ++position) count += found_at(position);
    if (count == 0) return;
    put_text(out, record.key);
    put_u32(out, count);
    for (uint32_t position = 0; position < positions; ++position) {
        if (!found_at(position)) continue;
        put_u32(out, position);
        put_u32(out, position == 0 ? record.referer : record.links[position - 1]);
        put_u32(out, found.link_bucket);
        put_text(out, found.url);
    }
}

void SpilledRanges::close_spill(off_t begin) {
    FILE *const out = spills_.file();
    // A spill that could not be written whole is left out: its ids are read
    // from the file.
    off_t end = std::fflush(out) == 0 && std::ferror(out) == 0 ? ftello(out) : begin;
    if (end < begin) end = begin;
    std::clearerr(out);
    readers_.push_back(std::make_unique<Reader>(fileno(out), begin, end));
}

void SpilledRanges::start_record(std::string_view key) {
    entries_.clear();
    text_.clear();
    next_ = 0;
    for (const auto &reader : readers_) reader->take(key, &entries_, &text_);
    std::sort(entries_.begin(), entries_.end(),
              [](const Entry &a, const Entry &b) { return a.position < b.position; });
}

bool SpilledRanges::find(uint32_t position, uint32_t id, resolved_url *out) {
    while (next_ < entries_.size() && entries_[next_].position < position) ++next_;
    if (next_ == entries_.size() || entries_[next_].position != position ||
        entries_[next_].id != id) {
        return false;
    }
    const Entry &entry = entries_[next_];
    out->url = std::string_view(text_.data() + entry.offset, entry.size);
    out->link_bucket = entry.bucket;
    return true;
}
