// A saturating operation clamps in its operands' signedness, so its
// destination has that signedness.
// expect-error: a saturating operation clamps in its operands' signedness
#include "Vector.hpp"

void f(KMR::Vector<int16_t> &a, KMR::Vector<int16_t> &d, KMR::Vector<uint16_t> &u)
{
    d = KMR::vaddfxp(a, a);
#ifdef KMR_COMPILE_FAIL
    u = KMR::vaddfxp(a, a);
#endif
    (void)u;
}
