// File queries by path, and temporary files.
#ifndef CRAWLPEEK_EXTRA_FILES_H_
#define CRAWLPEEK_EXTRA_FILES_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>

// The file's size in bytes; -1 when it cannot be examined.
int64_t libvel_filesize(const char *path);

// The file's last-modification time; 0 when it cannot be examined.
time_t libvel_filelmt(const char *path);

// 1 when the path can be examined and its mode has the directory bit
// (0x4000) set, which block devices share; else 0.
int libvel_isdir(const char *path);

// A new empty file in the default temporary directory ($TMPDIR when it is a
// writable directory, else /tmp), named with at most five characters of
// prefix and six random ones. It is created exclusively, so no one can have
// placed a file or link under that name first. Its path, malloc'd, which the
// caller frees; null when it cannot be created.
char *vel_tempnam(const char *prefix);

// Writes all size bytes of data to fd, again after an interruption. 0 when
// done, else the system's error (ENOSPC for a write that takes no byte).
int write_all(int fd, const void *data, size_t size);

// Reads size bytes at offset into buffer, again after an interruption. The
// bytes read, fewer than size only at the end of the file; -1 on an error
// (in errno).
ssize_t pread_all(int fd, void *buffer, size_t size, uint64_t offset);

#endif  // CRAWLPEEK_EXTRA_FILES_H_
