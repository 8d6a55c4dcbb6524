// select moves x as operand A of a conditional move: x cannot be ENUM.
// expect-error: select moves x as operand A
#include "Vector.hpp"

void f(KMR::Vector<int> &a, KMR::Vector<int> &d)
{
    d = KMR::select(a < 0, 0, KMR::ENUM);
#ifdef KMR_COMPILE_FAIL
    d = KMR::select(a < 0, KMR::ENUM, 0);
#endif
}
