// The enumeration can only be operand B: no instruction form reads it as A.
// expect-error: ENUM can only be the second operand
#include "Vector.hpp"

void f(KMR::Vector<int> &a, KMR::Vector<int> &c)
{
    c = a - KMR::ENUM;
#ifdef KMR_COMPILE_FAIL
    c = KMR::ENUM - a;
#endif
}
