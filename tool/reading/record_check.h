// The check a whole dump makes before it walks all of url-visited.db.
//
// Berkeley DB's reads trust the pages they are given, and a damaged page can
// make them read outside the file or go round in circles, so a file is
// verified page by page before it is walked. A file a crawler is writing
// cannot be verified (its newest pages are in the shared cache, not on disk)
// and is walked through the cache as it stands.
#ifndef CRAWLPEEK_TOOL_READING_RECORD_CHECK_H_
#define CRAWLPEEK_TOOL_READING_RECORD_CHECK_H_

#include <memory>
#include <string>

enum class RecordFileState {
    kSound,         // verified, or absent (the open reports an absent file)
    kBeingWritten,  // a crawler had it open for writing before, during or after the check
    kDamaged,       // it does not pass verification, and nobody wrote it meanwhile
    kUnchecked,     // the verifier could not run, or was killed from outside
};

enum class VerifyResult { kPassed, kFailed, kNotRun };

// Berkeley DB's verifier over the file at path, reading the file itself
// rather than the shared cache, in a child process (which the caller's other
// threads must allow); what it finds goes to standard error. kFailed also
// when the verifier crashed on the file (SIGSEGV, SIGBUS, SIGABRT, SIGFPE or
// SIGILL); kNotRun when no child could be started or waited for, or another
// signal killed it (SIGKILL: out of memory, or an operator).
VerifyResult verify_record_file(const std::string &path);
// The same, with what the verifier finds left unsaid.
VerifyResult verify_record_file_quietly(const std::string &path);

// Whether a verifier killed by signal crashed on its file, which counts as
// finding it damaged; any other signal came from outside. Safe in a signal
// handler.
bool is_verifier_crash(int signal);

// Tests the writer's mark on the record file at path, verifies the file with
// verify when it is not marked, then tests the mark and the file's identity,
// size and times again: a crawler that took or dropped the mark while the
// verifier read, or wrote the file meanwhile, makes the answer kBeingWritten
// rather than kDamaged or kUnchecked.
RecordFileState check_record_file(const std::string &path,
                                  VerifyResult (*verify)(const std::string &) = verify_record_file);
// The same check of a file of the database (vid.db, say) whose writer marks
// the record file at mark_path rather than the file itself.
RecordFileState check_database_file(const std::string &path, const std::string &mark_path,
                                    VerifyResult (*verify)(const std::string &));

// check_database_file in two halves, so that the caller can read the files
// while the verifier runs in its child on another processor; what the
// verifier finds is left unsaid unless asked for. Whatever is read before
// finish() answers kSound comes from a file that may be damaged, and is to
// be trusted only then: a damaged page can make the reader go wrong in any way (the caller
// reads in a child process of its own, say, and stops on damage_signal).
class FileCheck {
  public:
    // Tests the mark and, when the file is not marked, takes its stamp and
    // starts the verifier. With damage_signal nonzero the verifier sends it
    // to this process as soon as it finds the file damaged (as finish()
    // would judge it), so that a reader that a damaged page keeps going
    // round in circles can be stopped; a verifier that crashes on the file
    // ends without it (see is_verifier_crash). With quiet cleared, what the
    // verifier finds goes to standard error.
    FileCheck(const std::string &path, const std::string &mark_path, int damage_signal = 0,
              bool quiet = true);
    // Stops a verifier still running.
    ~FileCheck();
    FileCheck(const FileCheck &) = delete;
    FileCheck &operator=(const FileCheck &) = delete;

    // Waits for the verifier and judges as check_database_file does; the
    // same answer on later calls.
    RecordFileState finish();
    // Once finish() has answered kUnchecked: the errno of what the verifier
    // lacked (room for its scratch, memory), or 0 when it was not that.
    int reason() const { return reason_; }

  private:
    struct Started;
    std::string path_;
    std::string mark_path_;
    RecordFileState early_ = RecordFileState::kSound;
    int reason_ = 0;
    std::unique_ptr<Started> started_;  // null once finished, or when no verifier runs
};

#endif  // CRAWLPEEK_TOOL_READING_RECORD_CHECK_H_
