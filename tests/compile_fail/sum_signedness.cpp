// A sum saturates in its operands' signedness, so it accumulates into a
// destination of that signedness.
// expect-error: a sum saturates in its operands' signedness
#include "Vector.hpp"

void f(KMR::Vector<uint8_t> &pixels, KMR::Vector<uint32_t> &total, KMR::Vector<int32_t> &signed_total)
{
    total = KMR::sum(pixels);
#ifdef KMR_COMPILE_FAIL
    signed_total = KMR::sum(pixels);
#endif
    (void)signed_total;
}
