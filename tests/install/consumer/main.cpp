// Initialises the simulator from an installed kmrsim, allocates scratchpad
// vectors and checks where they land.
#include <cstdio>

#include "kmr_api.h"

int main()
{
    kmrsim_init(4, 64, 256, 6, 5, 4);
    char *base = static_cast<char *>(kmr_tqm_ptr->scratchpad_addr);
    void *a = kmr_sp_malloc_nodebug(40);
    void *b = kmr_sp_malloc_nodebug(40);
    if (a != base || b != base + 48 || kmr_sp_getused() != 96) {
        std::printf("unexpected allocation: %p %p used %d\n", a, b, kmr_sp_getused());
        return 1;
    }
    kmrsim_destroy();
    std::printf("consumer ok\n");
    return 0;
}
