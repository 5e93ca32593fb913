// The spill buffer driven by a sequence of appends, spills, rewinds, reads,
// released descriptors, failed growths and resets from the input, against a
// plain string holding what was appended: every byte read back must be the
// byte appended there, and after a failed growth every append fails until the
// reset.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "adt/velio.h"
#include "fuzz/fuzz_input.h"

namespace {

struct Model {
    std::string content;  // every byte appended since the last reset
    size_t length = 0;    // the content, and the bytes appends counted while memory was lost
    size_t read = 0;      // next byte a read delivers
    bool closed = false;
    bool lost = false;  // a growth failed
};

bool fail_next_growth = false;
bool growth_failed = false;

void *realloc_or_fail(void *block, size_t size) {
    if (!fail_next_growth) return std::realloc(block, size);
    fail_next_growth = false;
    growth_failed = true;
    return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    velio *v = nullptr;
    velio_create(&v);
    if (v == nullptr) return 0;
    velio_realloc = realloc_or_fail;
    fail_next_growth = false;
    // A small limit makes growth spill to a file now and then.
    v->maxmem = input.u16();
    v->increment = input.byte();
    Model model;
    std::vector<char> out;
    while (!input.empty()) {
        switch (input.byte() % 10) {
            case 0:
            case 1: {
                const std::string bytes(input.bytes(input.u16() % 3000));
                growth_failed = false;
                const int32_t n =
                    velio_append(v, bytes.data(), static_cast<uint32_t>(bytes.size()));
                model.lost = model.lost || growth_failed;
                const bool whole = n == static_cast<int32_t>(bytes.size());
                if (n != 0 && (!whole || model.lost)) __builtin_trap();
                if (!model.closed && whole) model.content += bytes;
                if (!model.closed && (whole || model.lost)) model.length += bytes.size();
                break;
            }
            case 2:
                if (v->mode == kVelioMemory && !model.closed) velio_convert2file(v);
                break;
            case 3:
                velio_finish(v);
                model.closed = true;
                break;
            case 4:
                velio_rewind(v);
                model.read = 0;
                break;
            case 5: {
                out.resize(input.u16() % 5000 + 1);
                const int32_t n = velio_copy(v, out.data(), static_cast<uint32_t>(out.size()));
                if (n < 0) break;
                const std::string expected = model.content.substr(
                    std::min(model.read, model.content.size()), static_cast<size_t>(n));
                if (static_cast<size_t>(n) != expected.size() ||
                    expected.compare(0, expected.size(), out.data(), expected.size()) != 0) {
                    __builtin_trap();
                }
                model.read += static_cast<size_t>(n);
                break;
            }
            case 6:
                velio_reset(v);
                model = Model{};
                break;
            case 7:
                if (v->mode == kVelioMemory && !model.closed) {
                    velio_dup2file(v);
                    model.closed = true;
                }
                break;
            case 8:
                velio_releasefd(v);
                break;
            case 9:
                fail_next_growth = true;
                break;
        }
        if (v->length != model.length && !model.closed) __builtin_trap();
    }
    velio_destroy(v);
    return 0;
}
