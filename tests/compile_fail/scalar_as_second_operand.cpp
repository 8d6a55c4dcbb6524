// A scalar can only be operand A: shifting a scalar by a vector has no form.
// expect-error: a scalar can only be the first operand
#include "Vector.hpp"

void f(KMR::Vector<int> &a, KMR::Vector<int> &c)
{
    c = a << 2;
#ifdef KMR_COMPILE_FAIL
    c = 2 << a;
#endif
}
