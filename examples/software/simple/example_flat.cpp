// The smallest complete TQM program on the flat interface: ten products
// (i + 1) * 4 computed with three typed instruction calls.
#include <cstdio>

#include "kmr_api.h"

extern const int num_elements;
const int num_elements = 10;

int main()
{
    kmrsim_init(4, 64, 256, 6, 5, 4);

    kmr_word_t *a = static_cast<kmr_word_t *>(kmr_sp_malloc_nodebug(num_elements * 4));
    kmr_word_t *b = static_cast<kmr_word_t *>(kmr_sp_malloc_nodebug(num_elements * 4));
    kmr_word_t *c = static_cast<kmr_word_t *>(kmr_sp_malloc_nodebug(num_elements * 4));

    kmr_set_vl(num_elements);
    kmr_SEWWS(VADD, a, 1, 0);  // a[i] = 1 + i
    kmr_SVWWS(VMOV, b, 4, 0);  // b[i] = 4
    kmr_VVWWS(VMUL, c, a, b);  // c[i] = a[i] * b[i]
    kmr_sync();

    std::printf("%8d", c[0]);
    for (int i = 1; i < num_elements; ++i)
        std::printf(",%8d", c[i]);
    std::printf("\n");
    return 0;
}
