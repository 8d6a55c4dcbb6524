// libFuzzer entry of the invalid-program target.
#include "program.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return kmrfuzz::run_invalid(data, size);
}
