// Services of the crawler host that the shared modules call.
//
// The library declares these functions and never defines them: every program
// that links it supplies the bodies. The crawler supplies its real services,
// crawlpeek supplies the inert bodies of a read-only tool, and each test binary
// supplies bodies that a test can steer.
#ifndef CRAWLPEEK_ROBOT_CRAWLER_HOOKS_H_
#define CRAWLPEEK_ROBOT_CRAWLER_HOOKS_H_

#include <cstdint>

struct url_obj;

// The crawler's state directory: absolute, or relative to the working
// directory. The string stays valid for the life of the process.
const char *sys_get_robot_state_path();

// Nonzero while the crawler's state is being erased: storage objects destroyed
// with their erase flag then remove their files, and the visited-URL shutdown
// clears the crawl start time.
int sys_get_erase_status();

// Text for the last system error, newly allocated with malloc; the caller
// frees it. Called right after a failed change of a log file's owner.
char *VEL_GetErrorString();

// Builds a URL-pool object from the fields of a decoded record. The
// constructor copies the strings it keeps; host_constant is always 10.
url_obj *create_url_obj(const char *url, int32_t num_a, int32_t num_b, int32_t key_digit,
                        int32_t num_c, const char *text_a, const char *text_b,
                        int32_t host_constant);

// Makes the pool key of an object, newly allocated; the caller frees it.
char *create_url_obj_key(url_obj *obj);

// Releases an object made by create_url_obj.
void destroy_url_obj(url_obj *obj);

// The normalised form of url, newly allocated (malloc), or null.
char *_vel_normalize_url(const char *url);

// The absolute form of link as found on the page at base, newly allocated
// (malloc), or null.
char *ParseURL_MakeAbsolute(const char *base, const char *link, int32_t flags);

// Asks the document depot to delete the stored copy of url. The hook copies
// what it keeps; the result is not used.
int rd_depot_put_delete(const char *url, const char *database);

// Hands url back to the site manager for a new visit. The hook copies what it
// keeps; the result is not used.
int site_manager_spawn_url_str(const char *url, int32_t depth_countdown, int32_t a, int32_t b,
                               int32_t c, const char *referer, const char *charset, int32_t d);

// The charset handed on to site_manager_spawn_url_str; may be null.
const char *sys_get_charset();

// Returns when the crawl may go on; called once per record by long scans.
int sys_if_paused();

// Nonzero when the crawl is being stopped; long scans end early.
int sys_if_stopped();

#endif  // CRAWLPEEK_ROBOT_CRAWLER_HOOKS_H_
