#include "extra/getopt.h"

#include <cstdio>
#include <cstring>

int32_t libvel_optind = 1;
int32_t libvel_opterr = 1;
int32_t libvel_optopt = 0;
char *libvel_optarg = nullptr;

namespace {

// The scan's place inside an element: the vector, the index of the element
// and the offset of its next option character; element -1 rests between
// elements. The place is only ever used while the caller passes the same
// vector and libvel_optind still names the element, so a scan abandoned in
// the middle of an element (or ended by a '-' inside a group) does not carry
// into the next one, and nothing is read from a vector that its owner may
// have freed.
struct Place {
    char *const *argv = nullptr;
    int32_t element = -1;
    size_t offset = 0;
};
Place place;

const char *program_name(const char *path) {
    const char *slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

void diagnose(char *const argv[], const char *what, int c) {
    if (libvel_opterr) std::fprintf(stderr, "%s: %s -- %c\n", program_name(argv[0]), what, c);
}

// Moves the place onto the next element's first option character. Returns
// false when the options are over.
bool enter_element(int32_t argc, char *const argv[]) {
    place = {};
    if (libvel_optind >= argc) return false;
    const char *element = argv[libvel_optind];
    if (element[0] != '-') return false;
    if (element[1] == '-') {  // "--" ends the options and is consumed
        ++libvel_optind;
        return false;
    }
    // A lone "-" keeps the place on its '-', which then is the option
    // character: not an option letter, it ends the scan below.
    place = {argv, libvel_optind, element[1] != '\0' ? size_t{1} : size_t{0}};
    return true;
}

// Passes to the next element once the current one has no characters left.
void leave_if_done() {
    if (place.argv[place.element][place.offset] != '\0') return;
    ++libvel_optind;
    place = {};
}

}  // namespace

int32_t libvel_getopt(int32_t argc, char *const argv[], const char *optstring) {
    // A vector freed and another made at its address could pass for the
    // same one; the place is taken up only if the element still reaches it.
    const bool inside = place.argv == argv && place.element == libvel_optind &&
                        libvel_optind < argc &&
                        strnlen(argv[libvel_optind], place.offset + 1) > place.offset;
    if (!inside && !enter_element(argc, argv)) return -1;

    char *element = argv[place.element];
    const int c = static_cast<signed char>(element[place.offset++]);
    libvel_optopt = c;

    const char *letter = c == ':' ? nullptr : std::strchr(optstring, c);
    if (letter == nullptr) {
        if (c == '-') {
            // The element stays the current one. A '-' inside a group
            // keeps its place, so a caller that goes on scanning reads the
            // letters after it; a lone "-" has nothing left and is entered
            // afresh, ending the scan again.
            if (element[place.offset] == '\0') place = {};
            return -1;
        }
        leave_if_done();
        diagnose(argv, "illegal option", c);
        return '?';
    }

    if (letter[1] != ':') {
        libvel_optarg = nullptr;
        leave_if_done();
        return c;
    }

    const size_t rest = place.offset;
    place = {};
    if (element[rest] != '\0') {
        libvel_optarg = element + rest;
    } else if (++libvel_optind >= argc) {
        diagnose(argv, "option requires an argument", c);
        return '?';
    } else {
        libvel_optarg = argv[libvel_optind];
    }
    ++libvel_optind;
    return c;
}
