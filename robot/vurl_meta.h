// The visited-URL database's metadata: layout version, start time of the
// crawl in progress, the next record id to hand out, and a flag word.
//
// Stored in vid.db under "VURL_META_DATA" (15 bytes with its NUL) as 16 bytes:
// the four fields in order, each 32 bits, most significant byte first. Since
// the metadata is one more key of vid.db, a database of N URLs numbered 1..N
// has N + 1 keys there, which is the right next_id.
#ifndef CRAWLPEEK_ROBOT_VURL_META_H_
#define CRAWLPEEK_ROBOT_VURL_META_H_

#include <db.h>

#include <cstddef>
#include <cstdint>

struct vurl_meta {
    int32_t version = 0;      // 0 or less: no metadata is stored
    uint32_t crawl_start = 0;  // Unix time, unsigned; 0 when the last crawl was completed
    int32_t next_id = 0;      // the next record id; ids start at 1
    uint32_t flags = 0;       // bit 0: the broken-link re-visit pass has begun
};

// Bit 0 of vurl_meta::flags.
inline constexpr uint32_t kVurlMetaIterating = 1;

inline constexpr char VURL_META_KEY[] = "VURL_META_DATA";
// next_id never passes this: ids run from 1 to 2^31 - 2, and a next_id equal
// to it means that none is left.
inline constexpr int32_t kVurlIdLimit = INT32_MAX;

// Whether a stored 4-byte value can be a record id; anything else found
// where an id belongs is damage and names no record.
inline bool vurl_is_record_id(uint32_t value) {
    return value != 0 && value < static_cast<uint32_t>(kVurlIdLimit);
}
// Whether a stored 4-byte value names a record for a reader: any but 0,
// which ends a link list. Values from kVurlIdLimit up are never handed out,
// but damage can store them, and a reader shows what is stored; writes keep
// to vurl_is_record_id.
inline bool vurl_names_stored_record(uint32_t value) {
    return value != 0;
}
// The layout version written into new metadata.
inline constexpr int32_t VURL_VERSION = 2;
inline constexpr size_t kVurlMetaStoredSize = 16;

// The metadata in memory; all zero until the database is opened.
extern vurl_meta g_vurl_meta;

// The stored form of meta.
void vurl_meta_encode(const vurl_meta &meta, uint8_t out[kVurlMetaStoredSize]);

// Loads the stored metadata into *meta (always &g_vurl_meta), under the
// visited-URL lock: the whole 32-bit fields present in at most 16 stored
// bytes replace those of *meta. 1 also when nothing is stored (*meta is then
// unchanged); 0 on a read error (logged).
int vurl_read_meta(vurl_meta *meta);

// Stores g_vurl_meta, replacing what is stored. 1 done, 0 failed (logged).
// Takes no lock: the caller holds the visited-URL lock or runs alone.
int vurl_write_meta();

// With create 0, 1 at once: nothing is read. Otherwise, under the visited-URL
// lock, checks that next_id has not been handed out, that next_id - 1 has,
// and that next_id is above the highest id that keys url-visited.db; when one
// fails it logs the finding and repairs next_id to the larger of the key
// count of vid.db and that highest id plus 1 (at most kVurlIdLimit), and
// stores it. Keys that are no id (not 4 bytes, 0, or 2^31 and above) are
// passed over. 1 when the metadata may be used, 0 on a read error.
int vurl_meta_sanity_check(vurl_meta *meta, int create);

// Whether key is the metadata's own key in vid.db, which no URL may use.
bool vurl_is_meta_key(const DBT *key);

#endif  // CRAWLPEEK_ROBOT_VURL_META_H_
