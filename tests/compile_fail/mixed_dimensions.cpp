// Vector operands of one expression have the same dimensionality.
// expect-error: vector operands of one expression must have the same dimensionality
#include "Vector.hpp"

void f(KMR::Vector<int, 1> &a, KMR::Vector<int, 2> &m, KMR::Vector<int, 2> &d)
{
    d = m + m;
#ifdef KMR_COMPILE_FAIL
    d = a + m;
#endif
    (void)a;
}
