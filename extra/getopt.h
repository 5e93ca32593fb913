// Single-letter command-line option scanner.
//
// Options are letters after a leading '-'; several may share one argument
// ("-vx"); an option followed by ':' in the option string takes an argument,
// either the rest of its element ("-lfile") or the next element. Scanning
// stops at the first element that is not an option, at "-" and at "--" (which
// is consumed), and at a '-' inside a group ("-v-l"), where a further call
// goes on with the letter after the '-'. Arguments are never reordered.
//
// The state is process-wide and unguarded: scan from one thread only.
#ifndef CRAWLPEEK_EXTRA_GETOPT_H_
#define CRAWLPEEK_EXTRA_GETOPT_H_

#include <cstdint>

// Index of the next element of argv to examine; starts at 1. After the scan it
// indexes the first operand.
extern int32_t libvel_optind;
// When nonzero (the default), diagnostics are printed on standard error.
extern int32_t libvel_opterr;
// The option character examined by the latest call, valid or not.
extern int32_t libvel_optopt;
// The argument of the latest returned option that takes one; points into argv.
// Null after an option without argument; unchanged by '?' and -1 returns.
extern char *libvel_optarg;

// Returns the next option character, '?' for an illegal option (':' is always
// illegal) or a missing argument, and -1 when the options are over. With
// libvel_opterr set, prints "<prog>: illegal option -- c" or
// "<prog>: option requires an argument -- c", where <prog> is the base name of
// argv[0].
int32_t libvel_getopt(int32_t argc, char *const argv[], const char *optstring);

#endif  // CRAWLPEEK_EXTRA_GETOPT_H_
