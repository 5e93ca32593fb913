// The option scanner over argument vectors from the input: the option string
// first, then the elements, each ended by a zero byte. A scan must end, stay
// inside the vector, and return only options of the string, '?' or -1.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "extra/getopt.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    const std::string optstring(input.until_zero());
    std::vector<std::string> elements = {"prog"};
    while (!input.empty()) elements.emplace_back(input.until_zero());
    std::vector<char *> argv;
    for (std::string &element : elements) argv.push_back(element.data());
    argv.push_back(nullptr);
    const int32_t argc = static_cast<int32_t>(elements.size());

    libvel_optind = 1;
    libvel_opterr = 0;
    // Each call uses up at least one character of the elements, or ends.
    size_t budget = elements.size() + 1;
    for (const std::string &element : elements) budget += element.size();
    for (;;) {
        const int32_t c = libvel_getopt(argc, argv.data(), optstring.c_str());
        if (c == -1) break;
        if (--budget == 0) __builtin_trap();
        if (c != '?' && (c == ':' || c == 0 || std::strchr(optstring.c_str(), c) == nullptr)) {
            __builtin_trap();
        }
        if (libvel_optind < 1 || libvel_optind > argc) __builtin_trap();
    }
    if (libvel_optind < 1 || libvel_optind > argc) __builtin_trap();
    return 0;
}
