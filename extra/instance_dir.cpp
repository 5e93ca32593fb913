#include "extra/instance_dir.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "extra/malloc_ptr.h"

namespace {

constexpr size_t kPathSize = 1024;
constexpr char kMarker[] = "/config/search.conf";
constexpr size_t kMarkerLength = sizeof kMarker - 1;
constexpr char kAdminServer[] = "admin-serv";
constexpr size_t kSearchBufferSize = 8192;

enum class Found { kYes, kNo, kCannotRun };

// A directory qualifies when it holds config/search.conf; one whose path
// with the marker would not fit the 1024-byte string does not.
bool is_instance(const char *dir) {
    size_t length = strlen(dir);
    if (length + kMarkerLength > kPathSize - 1) return false;
    char path[kPathSize];
    snprintf(path, sizeof path, "%s%s", dir, kMarker);
    return access(path, F_OK) == 0;
}

// Tries TAV_SERVER_ROOT, whose value is root, against `work`, which holds
// the current directory and receives the candidate.
Found try_server_root(const char *root, char *work) {
    size_t length = strlen(root);
    if (length >= kPathSize) return Found::kCannotRun;
    if (length == 0) return Found::kYes;
    std::string_view value(root, length);
    if (value.back() == '/') value.remove_suffix(1);
    if (!value.empty() && value.front() == '/') {
        memcpy(work, value.data(), value.size());
        work[value.size()] = '\0';
    } else {
        // Each leading "../" takes one trailing component off the current
        // directory.
        while (value.starts_with("../")) {
            value.remove_prefix(3);
            if (char *slash = strrchr(work, '/')) *slash = '\0';
        }
        size_t used = strlen(work);
        if (used + 1 + value.size() >= kPathSize) return Found::kCannotRun;
        work[used] = '/';
        memcpy(work + used + 1, value.data(), value.size());
        work[used + 1 + value.size()] = '\0';
    }
    return is_instance(work) ? Found::kYes : Found::kNo;
}

// Tries VANTOR_ROOT "/" SERVER_NAMES, built in `work`.
Found try_named_server(char *work) {
    const char *root = getenv("VANTOR_ROOT");
    const char *names = getenv("SERVER_NAMES");
    if (root == nullptr || names == nullptr || strcmp(names, kAdminServer) == 0) {
        return Found::kNo;
    }
    int length = snprintf(work, kPathSize, "%s/%s", root, names);
    if (length < 0 || static_cast<size_t>(length) > kPathSize - 1) return Found::kCannotRun;
    return is_instance(work) ? Found::kYes : Found::kNo;
}

Found search(char *work) {
    if (is_instance(work)) return Found::kYes;
    if (const char *root = getenv("TAV_SERVER_ROOT")) {
        Found found = try_server_root(root, work);
        if (found != Found::kNo) return found;
    }
    return try_named_server(work);
}

}  // namespace

int32_t vel_instance_dir(char **out) {
    MallocPtr<char> work(static_cast<char *>(malloc(kPathSize)));
    if (work == nullptr || getcwd(work.get(), kPathSize) == nullptr) return -1;
    switch (search(work.get())) {
    case Found::kCannotRun:
        return -1;
    case Found::kYes:
        *out = work.release();
        return 0;
    case Found::kNo:
        break;
    }
    *out = nullptr;
    return 0;
}

char *vel_search_path(const char *name, const char *envvar) {
    const char *value = getenv(envvar);
    if (value == nullptr) return strdup(name);
    MallocPtr<char> list(strdup(value));
    if (list == nullptr) return nullptr;
    char path[kSearchBufferSize];
    char *position = nullptr;
    for (char *dir = strtok_r(list.get(), ":", &position); dir != nullptr;
         dir = strtok_r(nullptr, ":", &position)) {
        // A combination that does not fit the buffer is skipped.
        int length = snprintf(path, sizeof path, "%s/%s", dir, name);
        if (length < 0 || static_cast<size_t>(length) >= sizeof path) continue;
        if (access(path, F_OK) == 0) return strdup(path);
    }
    return strdup(name);
}
