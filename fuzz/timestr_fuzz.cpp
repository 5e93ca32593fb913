// The date parser on any text: no read past the text's end, no crash, no
// undefined arithmetic on absurd fields.
#include <cstdint>
#include <string>

#include "extra/date_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    ZEZ_ParseTimeString(text.c_str(), 0);
    ZEZ_ParseTimeString(text.c_str(), 1);
    return 0;
}
