#include "tool/reading/record_check.h"

#include <db.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_set>

#include "extra/files.h"
#include "robot/vurl_writer_lock.h"
#include "tool/reading/reader_child.h"
#include "tool/reading/temp_file.h"

namespace {

// A verifier that could not do its work for want of room or resources exits
// with this plus the errno, which fits an exit status for each of them.
constexpr int kShortOfExit = 128;
// Berkeley DB's message when a scratch file for its cache cannot be made.
constexpr char kNoBackingFile[] = "BDB3014 ";
// Berkeley DB's message when the tree reaches a page a second time.
constexpr char kLinkedTwice[] = "BDB1090 ";

// Errors that say nothing about the file: the verifier's own scratch, its
// memory, or the reading of the file failed.
bool is_want_of_resources(int error) {
    switch (error) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
        case ENOMEM:
        case EIO:
        case EACCES:
        case EPERM:
        case ENOENT:
        case ENOTDIR:
        case EROFS:
        case EMFILE:
        case ENFILE:
            return true;
        default:
            return false;
    }
}

// The verifier's exit for a result of Berkeley DB.
[[noreturn]] void exit_verifier(int ret) {
    if (ret == 0) _exit(0);
    if (is_want_of_resources(ret)) _exit(kShortOfExit + ret);
    _exit(1);
}

// What the verifier's child runs when the file fails, if anything.
const std::function<void()> *verifier_on_failure = nullptr;

// Ends the verifier's child with Berkeley DB's result, running the failure's
// callback first when the result says the file is damaged.
[[noreturn]] void end_verifier(int ret) {
    if (ret != 0 && !is_want_of_resources(ret) && verifier_on_failure != nullptr &&
        *verifier_on_failure) {
        (*verifier_on_failure)();
    }
    exit_verifier(ret);
}

// Berkeley DB says so when it cannot make its scratch file, and then tries
// again for each page its cache gives up, which takes minutes on a large file.
// The first such message ends the verifier: it could not do its work, for
// want of the room a new scratch file shows it lacks.
//
// Pages that point back up the tree send the verifier round the cycle, each
// lap saying again that every page below is linked twice, until its stack
// runs out: tens of seconds and millions of lines. A page said twice to be
// linked twice ends it at once, as having found the damage it has reported.
//
// Other messages are printed as Berkeley DB prints them.
void on_verifier_message(const DB_ENV *, const char *prefix, const char *message) {
    static std::unordered_set<std::string> linked_twice;
    if (std::strncmp(message, kLinkedTwice, sizeof kLinkedTwice - 1) == 0 &&
        !linked_twice.insert(message).second) {
        end_verifier(DB_VERIFY_BAD);
    }
    std::fprintf(stderr, "%s: %s\n", prefix, message);
    if (std::strstr(message, kNoBackingFile) == nullptr) return;
    TempFile probe;
    const int error = probe.fd() < 0 ? probe.error() : write_all(probe.fd(), "", 1);
    exit_verifier(is_want_of_resources(error) ? error : EIO);
}

// Verifies path in this process, the verifier's child; Berkeley DB's
// result. The verifier keeps what it learns of the pages in a database of
// its own, which spills to a scratch file as large as the file verified;
// without an environment of ours that goes to /var/tmp whatever $TMPDIR
// says, so the environment names the directory the dump's scratch uses.
int verify_here(const std::string &path) {
    DB_ENV *env = nullptr;
    int ret = db_env_create(&env, 0);
    if (ret != 0) return ret;
    env->set_errcall(env, on_verifier_message);
    env->set_errpfx(env, "robot");
    const std::string scratch = TempFile::scratch_directory();
    ret = env->set_tmp_dir(env, scratch.c_str());
    if (ret == 0) ret = env->open(env, nullptr, DB_CREATE | DB_PRIVATE | DB_INIT_MPOOL, 0);
    DB *db = nullptr;
    if (ret == 0) ret = db_create(&db, env, 0);
    // The verifier releases the handle whatever it finds.
    if (ret == 0) ret = db->verify(db, path.c_str(), nullptr, nullptr, 0);
    env->close(env, 0);
    return ret;
}

// What changes when a process writes or replaces the file; times in
// nanoseconds.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    int64_t modified = 0;
    int64_t changed = 0;

    bool operator==(const FileStamp &) const = default;
};

int64_t nanoseconds(const timespec &t) {
    return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

FileStamp stamp_of(const std::string &path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return FileStamp{};
    return FileStamp{true, st.st_dev, st.st_ino, st.st_size, nanoseconds(st.st_mtim),
                     nanoseconds(st.st_ctim)};
}

// Starts Berkeley DB's verifier over path in a child, which exits 0 when the
// file passes; the child's pid, or -1 when none could be made. When the file
// fails, the child first runs on_failure when one is given.
pid_t start_verifier(const std::string &path, bool quiet,
                     const std::function<void()> &on_failure = nullptr) {
    // The verifier can fail hard on a badly damaged file, so it runs in a
    // child: a crash counts as damage like a failed check does.
    std::fflush(nullptr);
    // The verifier ends with the process that started it, whichever way
    // that ends.
    const pid_t child = fork_bound_child();
    if (child != 0) return child;
    // The verifier writes only its scratch: past a limit on file sizes the
    // write fails and says so, rather than the signal ending the verifier.
    std::signal(SIGXFSZ, SIG_IGN);
    if (quiet) {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, STDERR_FILENO);
    }
    verifier_on_failure = &on_failure;
    end_verifier(verify_here(path));
}

// The verifier's result; a verifier short of room or resources did not run,
// and *reason, when given, gets the errno.
VerifyResult wait_verifier(pid_t child, int *reason = nullptr) {
    if (child < 0) return VerifyResult::kNotRun;
    int status = 0;
    if (!wait_bound_child(child, &status)) return VerifyResult::kNotRun;
    if (WIFSIGNALED(status)) {
        return is_verifier_crash(WTERMSIG(status)) ? VerifyResult::kFailed : VerifyResult::kNotRun;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) > kShortOfExit) {
        if (reason != nullptr) *reason = WEXITSTATUS(status) - kShortOfExit;
        return VerifyResult::kNotRun;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? VerifyResult::kPassed
                                                          : VerifyResult::kFailed;
}

// What a check concludes from the verifier's result on path, given the
// file's stamp from before the verifier ran.
RecordFileState judge(const std::string &path, const std::string &mark_path,
                      const FileStamp &before, VerifyResult result) {
    // A writer that came and went leaves the file's times changed (the stamp
    // has nanoseconds here; on a file system with coarse times only the
    // mark's second test covers a rewrite of the same size).
    if (vurl_writer_lock_held(mark_path.c_str()) != 0 || stamp_of(path) != before) {
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

}  // namespace

bool is_verifier_crash(int signal) {
    // A verifier killed otherwise (out of memory, or by someone) found
    // nothing.
    switch (signal) {
        case SIGSEGV:
        case SIGBUS:
        case SIGABRT:
        case SIGFPE:
        case SIGILL:
            return true;
        default:
            return false;
    }
}

VerifyResult verify_record_file(const std::string &path) {
    return wait_verifier(start_verifier(path, false));
}

VerifyResult verify_record_file_quietly(const std::string &path) {
    return wait_verifier(start_verifier(path, true));
}

RecordFileState check_record_file(const std::string &path,
                                  VerifyResult (*verify)(const std::string &)) {
    return check_database_file(path, path, verify);
}

RecordFileState check_database_file(const std::string &path, const std::string &mark_path,
                                    VerifyResult (*verify)(const std::string &)) {
    if (path.empty()) return RecordFileState::kSound;
    if (vurl_writer_lock_held(mark_path.c_str()) != 0) return RecordFileState::kBeingWritten;
    const FileStamp before = stamp_of(path);
    if (!before.exists) return RecordFileState::kSound;
    return judge(path, mark_path, before, verify(path));
}

struct FileCheck::Started {
    FileStamp before;
    pid_t verifier = -1;
};

FileCheck::FileCheck(const std::string &path, const std::string &mark_path, int damage_signal,
                     bool quiet)
    : path_(path), mark_path_(mark_path) {
    if (path.empty()) return;
    if (vurl_writer_lock_held(mark_path.c_str()) != 0) {
        early_ = RecordFileState::kBeingWritten;
        return;
    }
    const FileStamp before = stamp_of(path);
    if (!before.exists) return;
    const pid_t reader = getpid();
    auto on_failure = [&] {
        // A reader that is gone has no use for the signal, and its pid may
        // be another process's by now.
        if (damage_signal != 0 && getppid() == reader &&
            judge(path, mark_path, before, VerifyResult::kFailed) == RecordFileState::kDamaged) {
            kill(reader, damage_signal);
        }
    };
    started_ = std::make_unique<Started>(Started{before, start_verifier(path, quiet, on_failure)});
}

FileCheck::~FileCheck() {
    if (started_ == nullptr || started_->verifier < 0) return;
    kill(started_->verifier, SIGKILL);
    wait_verifier(started_->verifier);
}

RecordFileState FileCheck::finish() {
    if (started_ == nullptr) return early_;
    const VerifyResult result = wait_verifier(started_->verifier, &reason_);
    started_->verifier = -1;
    early_ = judge(path_, mark_path_, started_->before, result);
    started_.reset();
    return early_;
}
