#include "tool/crawldb/verification.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>

#include "tool/crawldb/errors.h"

namespace {

// The signal a verifier running alongside the reader sends when it finds
// damage, and the line the reader then ends with.
constexpr int kDamageSignal = SIGUSR1;
char damage_line[PATH_MAX + 128];
size_t damage_line_length = 0;

void stop_on_damage(int) {
    ssize_t written = write(STDERR_FILENO, damage_line, damage_line_length);
    (void)written;
    _exit(2);
}

// Makes kDamageSignal end this process with a line naming files.
void arm_damage_stop(const std::string &files) {
    const int length = std::snprintf(damage_line, sizeof damage_line,
                                     "crawldb: %s does not pass verification: it is damaged "
                                     "(see crawldb check)\n",
                                     files.c_str());
    damage_line_length =
        std::min(static_cast<size_t>(std::max(length, 0)), sizeof damage_line - 1);
    struct sigaction action = {};
    action.sa_handler = stop_on_damage;
    sigemptyset(&action.sa_mask);
    sigaction(kDamageSignal, &action, nullptr);
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

bool Verification::add(const std::string &path, const std::string &mark_path, When when) {
    if (when == When::kFirst) {
        return note(path, check_database_file(path, mark_path, verify_record_file_quietly));
    }
    running_names_ += (running_names_.empty() ? "" : " or ") + path;
    // Armed before the verifier starts, which may signal at once.
    arm_damage_stop(running_names_);
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
