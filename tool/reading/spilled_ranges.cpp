#include "tool/reading/spilled_ranges.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "robot/coding.h"
#include "robot/id_indirect.h"
#include "robot/record_walk.h"
#include "robot/vurl_record.h"

namespace {

// Scratch read or written front to back, one stream at a time.
constexpr size_t kSequentialBlock = size_t{1} << 20;
// What the buffers of streams used side by side take together (the
// partitions while they are written, the spills while they are merged),
// however many there are...
constexpr size_t kSideBySideMemory = size_t{4} << 20;
// ...with a block each of at least this.
constexpr size_t kSmallestBlock = size_t{4} << 10;
// A range holds at least this share of the file, so that a budget far too
// small for the file makes at most about this many ranges.
constexpr uint64_t kMostRanges = 1024;
// Memory a URL takes in a range besides its bytes: its id, its offset, its
// bucket and a zero byte after it.
constexpr size_t kUrlOverhead = 2 * sizeof(uint32_t) + 1 + 1;
// Bytes of a spilled entry besides its URL: position, id, bucket, URL size.
constexpr uint64_t kSpillEntryBytes = 4 * sizeof(uint32_t);
// Bytes of a partitioned reference: position and id.
constexpr uint64_t kReferenceBytes = 2 * sizeof(uint32_t);

size_t block_for(size_t streams) {
    return std::clamp(kSideBySideMemory / std::max<size_t>(streams, 1), kSmallestBlock,
                      kSequentialBlock);
}

// The errno of the first scratch file that failed, until it has been said.
int g_scratch_trouble = 0;
bool g_scratch_trouble_said = false;

// Keeps the first failure of a scratch file for the one line that says so.
void report_scratch_trouble(int error) {
    if (g_scratch_trouble == 0) g_scratch_trouble = error != 0 ? error : EIO;
}

// Says it, once. Not before the printing walk: standard error is held in
// a scratch file of its own until then, which may have failed the same way.
void say_scratch_trouble() {
    if (g_scratch_trouble == 0 || g_scratch_trouble_said) return;
    g_scratch_trouble_said = true;
    std::fprintf(stderr,
                 "%s: scratch file in %s: %s; referers and links past the URL table's budget "
                 "are read from url-visited.db\n",
                 program_invocation_short_name, TempFile::scratch_directory().c_str(),
                 std::strerror(g_scratch_trouble));
}

}  // namespace

// A range of ids past the table, as the URL file holds it.
struct SpilledRanges::Range {
    uint32_t first = 0;  // the first id with a URL in it
    uint64_t end = 0;    // past the last
    uint32_t count = 0;  // URLs
    size_t text = 0;     // their bytes, each with a zero byte
    size_t memory = 0;   // what the range takes loaded: text and kUrlOverhead a URL
};

// A reference as a partition holds it: written as it lies in memory, two
// 32-bit words without padding.
struct SpilledRanges::Reference {
    uint32_t position;
    uint32_t id;
};

// A URL the spills hold for the current record.
struct SpilledRanges::Entry {
    uint32_t position;
    uint32_t id;
    uint32_t bucket;
    size_t offset;  // of the URL in text_
    size_t size;
};

// One range's URLs in memory, sorted by id: its size follows the ids
// present, not the span between them.
class SpilledRanges::RangeTable {
  public:
    // Reads range's URLs from in, which is at its first; false when the
    // scratch could not be read or does not hold what the range says. What
    // was read before is kept: every answer it gives is right.
    bool load(const Range &range, ScratchReader *in) {
        std::vector<uint32_t>().swap(ids_);
        std::vector<uint32_t>().swap(offsets_);
        std::vector<uint8_t>().swap(buckets_);
        std::vector<char>().swap(text_);
        ids_.reserve(range.count);
        offsets_.reserve(range.count);
        buckets_.reserve(range.count);
        text_.reserve(range.text);
        for (uint32_t i = 0; i < range.count; ++i) {
            uint32_t id = 0;
            uint32_t size = 0;
            if (!in->read_u32(&id) || !in->read_u32(&size) || id < range.first ||
                id >= range.end || (!ids_.empty() && id <= ids_.back()) ||
                size >= range.text - text_.size()) {
                return false;
            }
            const size_t offset = text_.size();
            text_.resize(offset + size + 1);
            if (!in->read(text_.data() + offset, size)) return false;
            text_[offset + size] = '\0';
            ids_.push_back(id);
            offsets_.push_back(static_cast<uint32_t>(offset));
            buckets_.push_back(static_cast<uint8_t>(vurl_link_bucket(text_.data() + offset)));
        }
        return true;
    }

    bool find(uint32_t id, resolved_url *out) const {
        if (ids_.empty() || id < ids_.front()) return false;
        // Ids of a crawl are mostly dense: the id's distance from the first
        // is its slot, unless ids are missing below it.
        size_t slot = std::min<size_t>(id - ids_.front(), ids_.size() - 1);
        if (ids_[slot] != id) {
            const auto at = std::lower_bound(ids_.begin(), ids_.begin() + static_cast<long>(slot), id);
            if (*at != id) return false;
            slot = static_cast<size_t>(at - ids_.begin());
        }
        const size_t end = slot + 1 < offsets_.size() ? offsets_[slot + 1] : text_.size();
        out->url = std::string_view(text_.data() + offsets_[slot], end - offsets_[slot] - 1);
        out->link_bucket = buckets_[slot];
        return true;
    }

  private:
    std::vector<uint32_t> ids_;      // ascending
    std::vector<uint32_t> offsets_;  // by slot: the URL in text_
    std::vector<uint8_t> buckets_;   // by slot: its link bucket
    std::vector<char> text_;         // the URLs, each followed by a zero byte
};

// One range's spill, read front to back: for each record with an id found
// in that range, in record order, its key, the count of entries, and for
// each its position, id, bucket and URL.
class SpilledRanges::SpillReader {
  public:
    SpillReader(int fd, std::vector<ScratchExtent> extents, size_t block)
        : in_(fd, std::move(extents), block) {}

    // Reads the next record's key; false at the end of the spill, or where
    // it cannot be read.
    bool advance() {
        if (in_.remaining() == 0) return false;
        if (!in_.read_text(&key_) || !in_.read_u32(&count_) ||
            count_ > in_.remaining() / kSpillEntryBytes) {
            return failed();
        }
        return true;
    }

    const std::string &key() const { return key_; }

    // Reads the current record's entries, appending them to entries and
    // text when keep is set; false, appending nothing, where the spill
    // cannot be read.
    bool take(bool keep, std::vector<Entry> *entries, std::string *text) {
        const size_t entries_before = entries->size();
        const size_t text_before = text->size();
        bool read = true;
        for (uint32_t i = 0; read && i < count_; ++i) {
            Entry entry{};
            uint32_t size = 0;
            read = in_.read_u32(&entry.position) && in_.read_u32(&entry.id) &&
                   in_.read_u32(&entry.bucket) && in_.read_u32(&size) && size <= in_.remaining();
            if (!read) break;
            entry.offset = text->size();
            entry.size = size;
            text->resize(entry.offset + size);
            read = in_.read(text->data() + entry.offset, size);
            entries->push_back(entry);
        }
        if (!read || !keep) {
            entries->resize(entries_before);
            text->resize(text_before);
        }
        return read || failed();
    }

  private:
    bool failed() {
        report_scratch_trouble(in_.error());
        return false;
    }

    ScratchReader in_;
    std::string key_;
    uint32_t count_ = 0;
};

SpilledRanges::SpilledRanges(size_t budget_bytes, uint64_t file_size)
    // Offsets in a range are 32 bits.
    : range_bytes_(static_cast<size_t>(std::min<uint64_t>(
          std::max<uint64_t>(budget_bytes, file_size / kMostRanges), UINT32_MAX))) {}

SpilledRanges::~SpilledRanges() = default;

bool SpilledRanges::start_scratch() {
    urls_ = std::make_unique<ScratchFile>();
    list_ = std::make_unique<ScratchFile>();
    const int error = urls_->error() != 0 ? urls_->error() : list_->error();
    if (error != 0) {
        drop_scratch(error);
        return false;
    }
    url_writer_ = std::make_unique<ScratchWriter>(urls_.get(), kSequentialBlock);
    list_writer_ = std::make_unique<ScratchWriter>(list_.get(), kSequentialBlock);
    return true;
}

bool SpilledRanges::take_record(std::string_view key, std::string_view value) {
    if (failed_) return false;
    if (urls_ == nullptr) {
        if (!start_scratch()) return false;
        first_key_.assign(key);
    }
    std::string_view url;
    if (key.size() == 4 && visited_url_stored_url(value.data(), value.size(), &url) &&
        !url.empty()) {
        take_url(decode_fixed32(reinterpret_cast<const uint8_t *>(key.data())), url);
    }
    visited_url_fields fields;
    if (visited_url_parse(value.data(), value.size(), &fields) &&
        (fields.has_referer || fields.link_id_count > 0)) {
        list_writer_->put_text(key);
        list_writer_->put_u32(fields.has_referer ? 1 : 0);
        list_writer_->put_u32(fields.referer_id);
        list_writer_->put_u32(static_cast<uint32_t>(fields.link_id_count));
        for (size_t i = 0; i < fields.link_id_count; ++i) list_writer_->put_u32(fields.link_id(i));
    }
    const int error = urls_->error() != 0 ? urls_->error() : list_->error();
    if (error != 0) drop_scratch(error);
    return error == 0;
}

void SpilledRanges::take_url(uint32_t id, std::string_view url) {
    const size_t memory = kUrlOverhead + url.size();
    // A URL larger than a whole range is read from the file.
    if (memory > range_bytes_) return;
    if (ranges_.empty() || ranges_.back().memory + memory > range_bytes_) {
        ranges_.push_back(Range{id, id, 0, 0, 0});
    }
    Range &range = ranges_.back();
    range.end = uint64_t{id} + 1;
    range.count++;
    range.text += url.size() + 1;
    range.memory += memory;
    url_writer_->put_u32(id);
    url_writer_->put_text(url);
}

void SpilledRanges::drop_scratch(int error) {
    if (error != 0) report_scratch_trouble(error);
    failed_ = error != 0;
    url_writer_.reset();
    urls_.reset();
    list_writer_.reset();
    list_.reset();
    part_writers_.clear();
    std::vector<std::vector<Reference>>().swap(staged_);
    parts_.reset();
    ranges_.clear();
}

int SpilledRanges::partition_of(uint32_t id, const VisitedUrlTable &table) const {
    if (id < table.covered_ids()) return 0;
    const auto after = std::upper_bound(ranges_.begin(), ranges_.end(), id,
                                        [](uint32_t i, const Range &r) { return i < r.first; });
    if (after == ranges_.begin()) return -1;
    const size_t range = static_cast<size_t>(after - ranges_.begin()) - 1;
    // The last range is not partitioned: it stays in memory.
    if (id >= ranges_[range].end || range + 1 == ranges_.size()) return -1;
    return static_cast<int>(range) + 1;
}

void SpilledRanges::route(std::string_view key, bool has_referer, uint32_t referer,
                          const std::vector<uint32_t> &links, const VisitedUrlTable &table) {
    touched_.clear();
    auto add = [&](uint32_t position, uint32_t id) {
        const int partition = partition_of(id, table);
        if (partition < 0) return;
        std::vector<Reference> &staged = staged_[static_cast<size_t>(partition)];
        if (staged.empty()) touched_.push_back(static_cast<size_t>(partition));
        staged.push_back({position, id});
    };
    if (has_referer) add(0, referer);
    for (size_t i = 0; i < links.size(); ++i) add(static_cast<uint32_t>(i) + 1, links[i]);
    // Each partition gets the record once, its references in position order.
    for (size_t partition : touched_) {
        std::vector<Reference> &staged = staged_[partition];
        ScratchWriter &out = part_writers_[partition];
        out.put_text(key);
        out.put_u32(static_cast<uint32_t>(staged.size()));
        out.put(staged.data(), staged.size() * sizeof(Reference));
        staged.clear();
    }
}

bool SpilledRanges::partition(const VisitedUrlTable &table) {
    parts_ = std::make_unique<ScratchFile>();
    if (parts_->error() != 0) {
        drop_scratch(parts_->error());
        return false;
    }
    // The table's range and every range but the last.
    part_writers_.assign(ranges_.size(), ScratchWriter(parts_.get(), block_for(ranges_.size())));
    staged_.resize(ranges_.size());
    std::vector<uint32_t> links;
    // The head of the file, which the table took before the list began.
    {
        RecordWalk walk(vdb_url);
        std::string_view key;
        std::string_view value;
        visited_url_fields fields;
        while (walk.next(&key, &value) && key < first_key_) {
            if (!visited_url_parse(value.data(), value.size(), &fields)) continue;
            links.resize(fields.link_id_count);
            for (size_t i = 0; i < fields.link_id_count; ++i) links[i] = fields.link_id(i);
            route(key, fields.has_referer, fields.referer_id, links, table);
        }
    }
    // Then the list.
    ScratchReader list(list_->fd(), list_writer_->extents(), kSequentialBlock);
    std::string key;
    while (list.remaining() > 0) {
        uint32_t has_referer = 0;
        uint32_t referer = 0;
        uint32_t count = 0;
        if (!list.read_text(&key) || !list.read_u32(&has_referer) || !list.read_u32(&referer) ||
            !list.read_u32(&count) || count > list.remaining() / sizeof(uint32_t)) {
            drop_scratch(list.error() != 0 ? list.error() : EIO);
            return false;
        }
        links.resize(count);
        if (!list.read(links.data(), count * sizeof(uint32_t))) {
            drop_scratch(list.error() != 0 ? list.error() : EIO);
            return false;
        }
        route(key, has_referer != 0, referer, links, table);
    }
    list_writer_.reset();
    list_.reset();
    for (ScratchWriter &writer : part_writers_) {
        if (!writer.finish()) {
            drop_scratch(parts_->error());
            return false;
        }
    }
    return true;
}

template <typename Find>
bool SpilledRanges::spill(size_t partition, const Find &find) {
    ScratchReader in(parts_->fd(), part_writers_[partition].extents(), kSequentialBlock);
    ScratchWriter out(spills_.get(), kSequentialBlock);
    struct Hit {
        uint32_t position;
        uint32_t id;
        resolved_url url;
    };
    std::vector<Hit> hits;
    std::string key;
    while (in.remaining() > 0) {
        uint32_t count = 0;
        if (!in.read_text(&key) || !in.read_u32(&count) ||
            count > in.remaining() / kReferenceBytes) {
            report_scratch_trouble(in.error());
            return false;
        }
        hits.clear();
        for (uint32_t i = 0; i < count; ++i) {
            Hit hit{};
            if (!in.read_u32(&hit.position) || !in.read_u32(&hit.id)) {
                report_scratch_trouble(in.error());
                return false;
            }
            if (find(hit.id, &hit.url)) hits.push_back(hit);
        }
        if (hits.empty()) continue;
        out.put_text(key);
        out.put_u32(static_cast<uint32_t>(hits.size()));
        for (const Hit &hit : hits) {
            out.put_u32(hit.position);
            out.put_u32(hit.id);
            out.put_u32(hit.url.link_bucket);
            out.put_text(hit.url.url);
        }
    }
    if (!out.finish()) {
        report_scratch_trouble(spills_->error());
        return false;
    }
    spill_extents_.push_back(out.extents());
    return true;
}

void SpilledRanges::resolve(VisitedUrlTable *table) {
    // Nothing past the table fits a range: the table alone serves the walk.
    if (failed_ || ranges_.empty() || !url_writer_->finish() || !list_writer_->finish()) {
        drop_scratch(urls_ == nullptr ? 0 : urls_->error() != 0 ? urls_->error() : list_->error());
        return;
    }
    if (!partition(*table)) return;
    spills_ = std::make_unique<ScratchFile>();
    if (spills_->error() != 0) report_scratch_trouble(spills_->error());
    // The table's own range first, while the table still holds it; then
    // its memory goes to the ranges.
    if (spills_->error() == 0 &&
        spill(0, [table](uint32_t id, resolved_url *out) { return table->find_in_memory(id, out); })) {
        table->release();
        ScratchReader urls(urls_->fd(), url_writer_->extents(), kSequentialBlock);
        memory_ = std::make_unique<RangeTable>();
        for (size_t i = 0; i < ranges_.size(); ++i) {
            if (!memory_->load(ranges_[i], &urls)) {
                report_scratch_trouble(urls.error());
                break;
            }
            // The last range, or one whose spill failed, stays for the walk.
            if (i + 1 == ranges_.size() ||
                !spill(i + 1, [this](uint32_t id, resolved_url *out) {
                    return memory_->find(id, out);
                })) {
                break;
            }
        }
    }
    drop_scratch(0);
    open_spills();
}

void SpilledRanges::open_spills() {
    const size_t block = block_for(spill_extents_.size());
    for (std::vector<ScratchExtent> &extents : spill_extents_) {
        readers_.push_back(std::make_unique<SpillReader>(spills_->fd(), std::move(extents), block));
        if (readers_.back()->advance()) heap_.push_back(readers_.back().get());
    }
    spill_extents_.clear();
    std::make_heap(heap_.begin(), heap_.end(), [](const SpillReader *a, const SpillReader *b) {
        return a->key() > b->key();
    });
}

void SpilledRanges::start_record(std::string_view key) {
    say_scratch_trouble();
    entries_.clear();
    text_.clear();
    next_ = 0;
    auto later = [](const SpillReader *a, const SpillReader *b) { return a->key() > b->key(); };
    // Spills whose next record comes before key hold records the walk no
    // longer sees (the file changed since): they are passed over.
    while (!heap_.empty() && std::string_view(heap_.front()->key()) <= key) {
        std::pop_heap(heap_.begin(), heap_.end(), later);
        SpillReader *reader = heap_.back();
        heap_.pop_back();
        if (reader->take(reader->key() == key, &entries_, &text_) && reader->advance()) {
            heap_.push_back(reader);
            std::push_heap(heap_.begin(), heap_.end(), later);
        }
    }
    std::sort(entries_.begin(), entries_.end(),
              [](const Entry &a, const Entry &b) { return a.position < b.position; });
}

bool SpilledRanges::find(uint32_t position, uint32_t id, resolved_url *out) {
    while (next_ < entries_.size() && entries_[next_].position < position) ++next_;
    if (next_ < entries_.size() && entries_[next_].position == position &&
        entries_[next_].id == id) {
        const Entry &entry = entries_[next_];
        out->url = std::string_view(text_.data() + entry.offset, entry.size);
        out->link_bucket = entry.bucket;
        return true;
    }
    return memory_ != nullptr && memory_->find(id, out);
}
