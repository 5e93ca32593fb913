// Shell commands run as child processes, and detaching as a daemon.
//
// Every command runs as "/bin/sh" "-c" command and inherits the caller's open
// descriptors, except those marked close-on-exec. Problems are reported in
// the module log (source "extra") when its level is at least 1; the results
// are the same whether or not a report is printed.
#ifndef CRAWLPEEK_EXTRA_CHILD_PROCESS_H_
#define CRAWLPEEK_EXTRA_CHILD_PROCESS_H_

#include <cstdint>

// Called whenever a signal interrupts the wait for a child.
typedef void (*vel_poll_fn)(void);

// Runs command in a child process. The child first ignores SIGINT, SIGTERM,
// SIGUSR1 and SIGUSR2 when ignore_signals is nonzero, changes to dir when it
// is not null, sets its open-files limit to nofile and its CPU-time limit to
// cputime (seconds) when they are nonzero, then becomes the shell.
// no_pipe and flush are accepted and have no effect.
//
// With wait nonzero, waits for the child (calling poll, when not null, each
// time a signal interrupts the wait) and returns its exit status (0-255), or
// 128 plus the signal number when a signal ended it, or 0 when the wait
// fails. With wait zero, returns 0 at once and the caller reaps the child.
// -1 when no child could be made. Safe to call from one thread while others
// run.
int32_t vel_limited_cli_run_wait(const char *command, const char *dir, int32_t nofile,
                                 int32_t cputime, int32_t ignore_signals, int32_t no_pipe,
                                 vel_poll_fn poll, int32_t wait, int32_t flush);

// The runner with no limits, waiting for the child.
int32_t vel_cli_run(const char *command, const char *dir);
int32_t vel_cli_run_no_pipe(const char *command, const char *dir);
int32_t vel_cli_run_poll(const char *command, const char *dir, vel_poll_fn poll);
int32_t vel_cli_run_no_pipe_poll(const char *command, const char *dir, vel_poll_fn poll);
int32_t vel_cli_run_no_flush(const char *command, const char *dir);
// The runner with the caller's limits, waiting for the child.
int32_t vel_limited_cli_run(const char *command, const char *dir, int32_t nofile, int32_t cputime,
                            int32_t ignore_signals, int32_t no_pipe, vel_poll_fn poll);

// Starts command with its standard input reading from a new pipe, whose
// write end goes to *write_fd: the caller writes the input there, closes it
// to end the input, and reaps the child. The write end is closed on exec, so
// no command started later inherits it, and the command keeps only its
// descriptors 0 to 2: it sees the end of its input as soon as the caller
// closes the write end. The child's process id, or -1 when the pipe or the
// child cannot be made.
int32_t libvel_pipe2cmd(const char *command, int32_t *write_fd);

// With do_fork nonzero, the process continues as a child in a new session
// and the original process exits with status 0. With pidfile not null, the
// process id is then written to it as "%d\n". Any failure is reported and
// exits the process with status 1. The working directory, umask and standard
// descriptors are left as they are.
void libvel_daemonize(int32_t do_fork, const char *pidfile);

// Closes every descriptor from `from` up to 255 that keep does not hold;
// keep is a list of descriptors ended by -1. Close errors are ignored.
void close_all_fds_except(int32_t from, const int32_t *keep);

#endif  // CRAWLPEEK_EXTRA_CHILD_PROCESS_H_
