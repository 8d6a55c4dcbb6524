// Custom opcodes are VCUSTOM0 .. VCUSTOM15.
// expect-error: custom opcodes are VCUSTOM0 .. VCUSTOM15
#include "Vector.hpp"

void f(KMR::Vector<int> &a, KMR::Vector<int> &d)
{
    d = KMR::vcustom<15>(a, a);
#ifdef KMR_COMPILE_FAIL
    d = KMR::vcustom<16>(a, a);
#endif
}
