// Berkeley DB's verifier over the files a crawldb command reads.
#ifndef CRAWLPEEK_TOOL_CRAWLDB_VERIFICATION_H_
#define CRAWLPEEK_TOOL_CRAWLDB_VERIFICATION_H_

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tool/reading/record_check.h"

// The status a reader ends with when a verifier running alongside finds its
// file damaged. The caller then reads again with every file verified first,
// which reports the damage as each command does.
inline constexpr int kVerificationStopStatus = 3;

class Verification {
  public:
    enum class When {
        kFirst,      // verify before anything is read
        kAlongside,  // verify on another processor while the caller reads
    };
    enum class Outcome {
        kSound,      // every file passed, or is being written
        kDamaged,    // a file is damaged: see damaged()
        kUnchecked,  // a file could not be verified (reported)
    };

    Verification() = default;
    Verification(const Verification &) = delete;
    Verification &operator=(const Verification &) = delete;
    // Stops verifiers still running.
    ~Verification();

    // Verifies path, whose writer marks mark_path, as when says (always
    // first after always_first()). A file verified first is judged now:
    // false when it could not be verified (reported). Verified alongside,
    // the file may be damaged while it is read: call finish() before
    // trusting what was read. A verifier that finds damage first, or
    // crashes, ends this process at once, silently, with
    // kVerificationStopStatus, so that a reader going round a damaged page
    // stops; this process must be one that may end so (a reader's child,
    // whose only children are its verifiers).
    bool add(const std::string &path, const std::string &mark_path, When when);

    // Makes every later add verify first, for the whole process.
    static void always_first();
    static bool first_always();

    // The status to end with after a read failed: one that has the caller
    // read again verifying first (the failure may come from damage the
    // verifiers have not reported yet) while files are verified alongside,
    // else 2.
    int read_failure_status() const { return running_.empty() ? 2 : kVerificationStopStatus; }

    // Waits for the verifiers started alongside. A damaged file is named on
    // standard error when report_damage is set.
    Outcome finish(bool report_damage);

    const std::vector<std::string> &damaged() const { return damaged_; }
    // Whether a crawler was writing a file while it was checked.
    bool being_written() const { return being_written_; }

  private:
    // Folds a finished check of path in; false when it could not be
    // verified (reported).
    bool note(const std::string &path, RecordFileState state);

    std::vector<std::pair<std::string, std::unique_ptr<FileCheck>>> running_;
    std::vector<std::string> damaged_;
    bool being_written_ = false;
    bool unchecked_ = false;
};

#endif  // CRAWLPEEK_TOOL_CRAWLDB_VERIFICATION_H_
