// Only one-dimensional expressions are summed into an element.
// expect-error: only one-dimensional expressions are summed
#include "Vector.hpp"

void f(KMR::Vector<int> &a, KMR::Vector<int, 2> &m)
{
    a[0] = a * a;
#ifdef KMR_COMPILE_FAIL
    a[0] = m * m;
#endif
    (void)m;
}
