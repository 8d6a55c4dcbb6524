// libFuzzer entry of the valid-program target.
#include "program.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return kmrfuzz::run_valid(data, size);
}
