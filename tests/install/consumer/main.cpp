// A C++ program on an installed kmrsim: the vector library computes
// products, the flat interface's allocator is checked underneath it.
#include <cstdio>

#include "Vector.hpp"

static_assert(__cplusplus >= 201703L, "kmrsim::kmrsim must bring C++17");

using namespace KMR;

int main()
{
    kmrsim_init(4, 64, 256, 6, 5, 4);
    char *base = static_cast<char *>(kmr_tqm_ptr->scratchpad_addr);
    int status = 0;
    {
        Vector<int> a(10);
        Vector<int> b(10);
        Vector<int> c(10);
        if (reinterpret_cast<char *>(a.data) != base || reinterpret_cast<char *>(b.data) != base + 48 ||
            kmr_sp_getused() != 144) {
            std::printf("unexpected allocation: %p %p used %d\n", static_cast<void *>(a.data),
                        static_cast<void *>(b.data), kmr_sp_getused());
            status = 1;
        }

        a = 1 + ENUM;  // a[i] = i + 1
        b = 4;
        c = a * b;
        kmr_sync();
        for (int i = 0; i < 10 && status == 0; ++i) {
            if (c.data[i] != (i + 1) * 4) {
                std::printf("element %d is %d\n", i, c.data[i]);
                status = 2;
            }
        }
    }
    kmrsim_destroy();
    if (status == 0)
        std::printf("consumer ok\n");
    return status;
}
