// A masked region's comparison takes its length from a vector operand.
// expect-error: a masked region's comparison needs a vector operand
#include "Vector.hpp"

void f(KMR::Vector<int> &a)
{
    KMR_WHERE(a < 5)
    {
        a = 0;
    }
#ifdef KMR_COMPILE_FAIL
    KMR_WHERE(KMR::ENUM < 5)
    {
        a = 0;
    }
#endif
}
