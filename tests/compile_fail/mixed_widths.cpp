// Both vector sources of one instruction have the same element width.
// expect-error: both vector operands of an instruction must have the same element width
#include "Vector.hpp"

void f(KMR::Vector<int> &a, KMR::Vector<short> &s, KMR::Vector<int> &c)
{
    c = a + a;
#ifdef KMR_COMPILE_FAIL
    c = a + s;
#endif
    (void)s;
}
