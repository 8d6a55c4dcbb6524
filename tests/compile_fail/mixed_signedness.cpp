// Vector operands of one expression have the same signedness.
// expect-error: vector operands of one expression must have the same signedness
#include "Vector.hpp"

void f(KMR::Vector<uint8_t> &u, KMR::Vector<int8_t> &s, KMR::Vector<int16_t> &d)
{
    d = u + u;
#ifdef KMR_COMPILE_FAIL
    d = u + s;
#endif
    (void)s;
}
