// Opening and closing the visited-URL database: url-visited.db and vid.db in
// the database home, as the one storage object vdb_url.
//
// The crawler opens with create set: missing files are made and a crawl start
// is stamped when none is stored. A reader opens with create 0 and changes
// nothing; while a crawler holds the writer's mark, a reader reads both files
// from their pages as they lie on disk (see page_snapshot.h), since the tree
// on disk is not what the crawler's cache holds. Both calls run while no
// other thread uses the database.
#ifndef CRAWLPEEK_ROBOT_VURL_DB_H_
#define CRAWLPEEK_ROBOT_VURL_DB_H_

#include <cstdint>
#include <string>

// Start time of the crawl in progress, in seconds since 1970 read as an
// unsigned 32-bit number (right until 2106); 0 when the last crawl was
// completed.
extern uint32_t g_timestamp;
// 1 when the open found an unfinished crawl whose broken-link re-visit pass
// had begun; for the crawler, nothing here reads it.
extern int32_t g_mode_iterating;

// Opens both files (created when create is nonzero) and loads the metadata.
// A writer (create nonzero) marks url-visited.db as being written until
// shutdown. 1 when the database is open. 0 when a file cannot be opened
// (perror names it on standard error), when another process has it open for
// writing (logged), when the metadata cannot be read or checked, or when
// there is none and create is 0. A failed open leaves the objects for
// visited_url_shutdown (or the next open) to release.
int visited_url_init(int create);

// Opens both files read-only and loads the metadata, if any, as it is stored:
// nothing on disk changes, and the metadata is neither checked nor repaired
// (a database without metadata opens, with version 0). 1 when the database is
// open; 0, with nothing printed, when a file cannot be opened (errno then
// holds the system's error when there is one) or the metadata cannot be
// read. Read from the files' pages while a crawler writes them. Closed by
// visited_url_shutdown(0).
int visited_url_open_read_only();

// Writes the metadata first when save_meta is nonzero (with the crawl start
// cleared when the host's state is being erased), then closes both files,
// releases the objects, and only then drops a writer's mark. Nothing when the
// database is not open.
void visited_url_shutdown(int save_meta);

// 1 when a process has the database of the database home open for writing;
// 0 when none has, or there is no url-visited.db.
int visited_url_is_being_written();

// The path of url-visited.db in the database home; empty while the home is
// unknown.
std::string visited_url_record_path();

#endif  // CRAWLPEEK_ROBOT_VURL_DB_H_
