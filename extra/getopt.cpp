#include "extra/getopt.h"

#include <cstdio>
#include <cstring>

int32_t libvel_optind = 1;
int32_t libvel_opterr = 1;
int32_t libvel_optopt = 0;
char *libvel_optarg = nullptr;

namespace {

// The empty string the scan position rests on between elements.
char kNoElement[] = "";

// Next character to examine inside the current element.
char *scan_pos = kNoElement;

bool at_element_end() {
    return *scan_pos == '\0';
}

void leave_element() {
    scan_pos = kNoElement;
}

const char *program_name(const char *path) {
    const char *slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

void diagnose(char *const argv[], const char *what, int c) {
    if (libvel_opterr) std::fprintf(stderr, "%s: %s -- %c\n", program_name(argv[0]), what, c);
}

// Moves the scan position onto the next element's first option character.
// Returns false when the options are over.
bool enter_element(int32_t argc, char *const argv[]) {
    if (libvel_optind >= argc) {
        leave_element();
        return false;
    }
    scan_pos = argv[libvel_optind];
    if (*scan_pos != '-') {
        leave_element();
        return false;
    }
    if (scan_pos[1] != '\0') {
        ++scan_pos;
        if (*scan_pos == '-') {  // "--" ends the options and is consumed
            ++libvel_optind;
            leave_element();
            return false;
        }
    }
    // A lone "-" keeps the position on its '-', which then is the option
    // character: not an option letter, it ends the scan below.
    return true;
}

}  // namespace

int32_t libvel_getopt(int32_t argc, char *const argv[], const char *optstring) {
    if (at_element_end() && !enter_element(argc, argv)) return -1;

    const int c = static_cast<signed char>(*scan_pos++);
    libvel_optopt = c;

    const char *letter = c == ':' ? nullptr : std::strchr(optstring, c);
    if (letter == nullptr) {
        if (c == '-') return -1;
        if (at_element_end()) ++libvel_optind;
        diagnose(argv, "illegal option", c);
        return '?';
    }

    if (letter[1] != ':') {
        libvel_optarg = nullptr;
        if (at_element_end()) ++libvel_optind;
        return c;
    }

    if (!at_element_end()) {
        libvel_optarg = scan_pos;
    } else if (++libvel_optind >= argc) {
        leave_element();
        diagnose(argv, "option requires an argument", c);
        return '?';
    } else {
        libvel_optarg = argv[libvel_optind];
    }
    leave_element();
    ++libvel_optind;
    return c;
}
