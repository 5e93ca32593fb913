#include "tool/crawldb/verification.h"

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "tool/crawldb/errors.h"

namespace {

// The signal a verifier running alongside the reader sends when it finds
// damage.
constexpr int kDamageSignal = SIGUSR1;

bool verify_first_always = false;

// Ends the reader when the signal comes from one of its own children (a
// verifier); a signal sent by anyone else is ignored. waitpid tells a child
// from any other process and may be called here.
void stop_on_damage(int, siginfo_t *info, void *) {
    if (info->si_pid > 0 && waitpid(info->si_pid, nullptr, WNOHANG) != -1) {
        _exit(kVerificationStopStatus);
    }
}

// A verifier that crashed on its file found it damaged, but sent no signal
// to say so: its end stops the reader the same way. Only the verifiers are
// children of a reader.
void stop_on_crashed_verifier(int, siginfo_t *info, void *) {
    if ((info->si_code == CLD_KILLED || info->si_code == CLD_DUMPED) &&
        is_verifier_crash(info->si_status)) {
        _exit(kVerificationStopStatus);
    }
}

void arm(int signal, void (*handler)(int, siginfo_t *, void *)) {
    struct sigaction action = {};
    action.sa_sigaction = handler;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

void arm_damage_stop() {
    arm(kDamageSignal, stop_on_damage);
    arm(SIGCHLD, stop_on_crashed_verifier);
}

}  // namespace

Verification::~Verification() = default;

bool Verification::note(const std::string &path, RecordFileState state) {
    switch (state) {
        case RecordFileState::kSound:
            break;
        case RecordFileState::kBeingWritten:
            being_written_ = true;
            break;
        case RecordFileState::kDamaged:
            damaged_.push_back(path);
            break;
        case RecordFileState::kUnchecked:
            crawldb_error("%s could not be verified", path.c_str());
            unchecked_ = true;
            return false;
    }
    return true;
}

void Verification::always_first() {
    verify_first_always = true;
}

bool Verification::first_always() {
    return verify_first_always;
}

bool Verification::add(const std::string &path, const std::string &mark_path, When when) {
    if (when == When::kFirst || verify_first_always) {
        return note(path, check_database_file(path, mark_path, verify_record_file_quietly));
    }
    // Armed before the verifier starts, which may signal at once.
    arm_damage_stop();
    running_.emplace_back(path, std::make_unique<FileCheck>(path, mark_path, kDamageSignal));
    return true;
}

Verification::Outcome Verification::finish(bool report_damage) {
    for (auto &[path, check] : running_) note(path, check->finish());
    running_.clear();
    if (unchecked_) return Outcome::kUnchecked;
    if (damaged_.empty()) return Outcome::kSound;
    if (report_damage) {
        for (const std::string &file : damaged_) {
            crawldb_error("%s does not pass verification: it is damaged (see crawldb check)",
                          file.c_str());
        }
    }
    return Outcome::kDamaged;
}
