// The mark a crawler leaves on its visited-URL database while it has it open
// for writing: an exclusive open-file-description lock (fcntl F_OFD_SETLK) on
// the whole of url-visited.db.
//
// Berkeley DB does not see the lock and nothing waits on it. It lets a
// reader in another process learn that the file is being written, which it
// cannot tell from the file: while a crawler runs, the file on disk lags its
// cache and does not pass verification. A reader tests the mark with
// F_OFD_GETLK, which takes nothing, so no number of readers can make a
// starting crawler fail. The lock goes with the open file, so a crawler that
// dies leaves no mark behind.
#ifndef CRAWLPEEK_ROBOT_VURL_WRITER_LOCK_H_
#define CRAWLPEEK_ROBOT_VURL_WRITER_LOCK_H_

// Takes the mark on the file at path and holds it until
// vurl_writer_lock_release. 1 when taken; 0 when another open file holds it
// (another crawler, or this process through an earlier open) or the file
// cannot be opened for writing. The process holds one mark at a time.
int vurl_writer_lock_take(const char *path);

// Drops the mark this process took, also for children it forked meanwhile
// (they share the open file); in such a child it only closes the child's
// copy, leaving the parent's mark alone. Nothing when there is no mark.
void vurl_writer_lock_release();

// 1 when the mark on the file at path is held, by another process or by this
// one's vurl_writer_lock_take; 0 when it is not, or the file cannot be opened.
// Takes no lock of its own.
int vurl_writer_lock_held(const char *path);

#endif  // CRAWLPEEK_ROBOT_VURL_WRITER_LOCK_H_
