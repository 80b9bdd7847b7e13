// The libFuzzer entry point of one fuzz program; the build names the target
// body it runs.
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return QUILLBOX_FUZZ_TARGET(data, size); }
