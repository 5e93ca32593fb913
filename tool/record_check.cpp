#include "tool/record_check.h"

#include <db.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>

#include "robot/vurl_writer_lock.h"

namespace {

// What changes when a process writes or replaces the file.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    bool operator==(const FileStamp &o) const {
        return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
    }
};

FileStamp stamp_of(const std::string &path) {
    FileStamp stamp;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return stamp;
    stamp.exists = true;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.modified = st.st_mtim;
    stamp.changed = st.st_ctim;
    return stamp;
}

}  // namespace

VerifyResult verify_record_file(const std::string &path) {
    // The verifier can fail hard on a badly damaged file, so it runs in a
    // child: a crash counts as damage like a failed check does.
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) return VerifyResult::kNotRun;
    if (child == 0) {
        DB *db = nullptr;
        if (db_create(&db, nullptr, 0) != 0) _exit(1);
        db->set_errfile(db, stderr);
        db->set_errpfx(db, "robot");
        // The verifier releases the handle whatever it finds.
        _exit(db->verify(db, path.c_str(), nullptr, nullptr, 0) == 0 ? 0 : 1);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return VerifyResult::kNotRun;
    }
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) return VerifyResult::kNotRun;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? VerifyResult::kPassed
                                                          : VerifyResult::kFailed;
}

RecordFileState check_record_file(const std::string &path,
                                  VerifyResult (*verify)(const std::string &)) {
    if (path.empty()) return RecordFileState::kSound;
    if (vurl_writer_lock_held(path.c_str()) != 0) return RecordFileState::kBeingWritten;
    const FileStamp before = stamp_of(path);
    if (!before.exists) return RecordFileState::kSound;
    const VerifyResult result = verify(path);
    // A writer that came and went leaves the file's times changed (the stamp
    // has nanoseconds here; on a file system with coarse times only the
    // mark's second test covers a rewrite of the same size).
    if (vurl_writer_lock_held(path.c_str()) != 0 || !(stamp_of(path) == before)) {
        return RecordFileState::kBeingWritten;
    }
    switch (result) {
        case VerifyResult::kPassed:
            return RecordFileState::kSound;
        case VerifyResult::kFailed:
            return RecordFileState::kDamaged;
        case VerifyResult::kNotRun:
            break;
    }
    return RecordFileState::kUnchecked;
}
