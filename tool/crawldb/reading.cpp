#include "tool/crawldb/reading.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "extra/files.h"
#include "tool/crawldb/errors.h"
#include "tool/crawldb/held_stderr.h"
#include "tool/crawldb/progress.h"
#include "tool/crawldb/verification.h"
#include "tool/reading/reader_child.h"

namespace {

constexpr int kTrouble = 2;
// The reader writes its output a megabyte at a time.
constexpr size_t kRelayChunk = size_t{1} << 20;

// The first reading's standard output, passed on by this process through a
// pipe, so that it knows whether any of it has been written.
class OutputRelay {
  public:
    OutputRelay() {
        if (pipe2(ends_, O_CLOEXEC) != 0) {
            ends_[0] = ends_[1] = -1;
            return;
        }
        // Room for a whole buffer of the reader's, so that it is seldom held
        // up; the default is kept where the system allows no more.
        fcntl(ends_[1], F_SETPIPE_SZ, static_cast<int>(kRelayChunk));
    }
    ~OutputRelay() { close_ends(); }
    OutputRelay(const OutputRelay &) = delete;
    OutputRelay &operator=(const OutputRelay &) = delete;

    // In the reader: standard output goes into the relay. A reader that runs
    // in this process (no child could be made) writes straight out.
    void take_stdout(pid_t parent) {
        if (ends_[1] >= 0 && getpid() != parent) dup2(ends_[1], STDOUT_FILENO);
        close_ends();
    }

    // In this process while the reader runs: holds its output back while it
    // is small, then writes it out, until the reader closes its end. A reader
    // whose output can no longer be written is killed, lest it wait on a full
    // pipe for ever.
    void pass_on(pid_t reader) {
        close_end(1);
        if (ends_[0] < 0) return;
        relayed_ = true;
        std::vector<char> chunk(kRelayChunk);
        for (;;) {
            const ssize_t got = read(ends_[0], chunk.data(), chunk.size());
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) error_ = errno;
            if (got <= 0) break;
            pass(chunk.data(), static_cast<size_t>(got));
            if (error_ != 0) break;
        }
        if (error_ != 0) kill(reader, SIGKILL);
        close_end(0);
    }

    // Writes out what is held; the errno of a failed write, else 0.
    int finish() {
        if (error_ == 0 && !held_.empty()) error_ = write_all(STDOUT_FILENO, held_.data(), held_.size());
        held_.clear();
        return error_;
    }

    // Whether any of the output may have reached standard output: some was
    // written, or it did not pass through here.
    bool may_have_written() const { return wrote_ || !relayed_; }
    // The errno of a failed read or write; 0 when there was none.
    int error() const { return error_; }

  private:
    void pass(const char *bytes, size_t size) {
        if (wrote_) {
            error_ = write_all(STDOUT_FILENO, bytes, size);
            return;
        }
        held_.append(bytes, size);
        if (held_.size() <= kHeldOutputBytes) return;
        wrote_ = true;
        error_ = write_all(STDOUT_FILENO, held_.data(), held_.size());
        held_ = std::string();
    }

    void close_end(int which) {
        if (ends_[which] >= 0) close(ends_[which]);
        ends_[which] = -1;
    }
    void close_ends() {
        close_end(0);
        close_end(1);
    }

    int ends_[2];
    std::string held_;
    bool relayed_ = false;
    bool wrote_ = false;
    int error_ = 0;
};

// The reading itself, in the child.
int read_once(const std::function<int()> &run) {
    const int status = run();
    // A reading to be done again ends here: Berkeley DB, having given up
    // on a damaged page, leaves memory behind that a leak checker run at
    // exit would report, changing the status.
    if (status == kVerificationStopStatus) {
        std::fflush(nullptr);
        _exit(status);
    }
    // Output lost to a full disk must not pass for a complete run.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        crawldb_error("writing the output: %s", std::strerror(errno));
        return kTrouble;
    }
    return status;
}

// kVerificationStopStatus, or any status a command does not give (a leak
// checker's after Berkeley DB gave up on a damaged page, say), or a signal
// from a damaged page.
bool to_read_again(const ReaderEnd &end) {
    return (end.signal == 0 && end.status > kTrouble) ||
           (end.signal != 0 && end.signal != SIGPIPE);
}

int exit_status(const ReaderEnd &end) {
    if (end.signal != 0) {
        crawldb_error("reading the database ended with signal %d (%s); the output is cut short",
                      end.signal, strsignal(end.signal));
        return kTrouble;
    }
    // A status the reading cannot give; anything but 0 and 1 is trouble.
    return end.status <= 1 ? end.status : kTrouble;
}

void report_cut_short(const ReaderEnd &first) {
    if (first.signal != 0) {
        crawldb_error("reading the database ended with signal %d (%s) after part of the output "
                      "was written; the output is cut short",
                      first.signal, strsignal(first.signal));
    } else {
        crawldb_error("reading the database stopped after part of the output was written (a "
                      "file may be damaged: see crawldb check); the output is cut short");
    }
}

}  // namespace

int read_in_child(const std::function<int()> &run) {
    const int terminal = dup(STDERR_FILENO);
    if (terminal >= 0) Progress::show_on(terminal);
    HeldStderr held;
    ReaderEnd end;
    bool wrote = false;
    {
        OutputRelay relay;
        end = run_reader_in_child(
            [&](pid_t parent) {
                relay.take_stdout(parent);
                return read_once(run);
            },
            [&](pid_t reader) { relay.pass_on(reader); });
        if (relay.error() == 0 && !to_read_again(end)) {
            // Standard output first: what the reading says last on standard
            // error (a summary, say) comes after it.
            relay.finish();
            held.release();
            if (relay.error() == 0) return exit_status(end);
        }
        if (relay.error() != 0) {
            held.release();
            crawldb_error("writing the output: %s", std::strerror(relay.error()));
            return kTrouble;
        }
        wrote = relay.may_have_written();
    }
    if (wrote) {
        // What the first reading said may tell why it stopped.
        held.release();
        report_cut_short(end);
        return kTrouble;
    }
    held.discard();
    held.release();
    Verification::always_first();
    return exit_status(run_reader_in_child([&run](pid_t) { return read_once(run); }));
}
