// One libFuzzer program per entry: VISTREL_FUZZ_ENTRY names the entry.
#include "fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    VISTREL_FUZZ_ENTRY(data, size);
    return 0;
}
