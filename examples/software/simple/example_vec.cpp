// Ten products (i + 1) * 4, written with the vector expression library.
#include <cstdio>

#include "Vector.hpp"

using namespace KMR;

static const int num_elements = 10;

int main()
{
    // 4 lanes, a 64 KB scratchpad, mask depth 256, and 16, 15 and 4
    // fractional bits for word, half-word and byte fixed point.
    kmrsim_init(4, 64, 256, 16, 15, 4);
    {
        Vector<int> a(num_elements);
        Vector<int> b(num_elements);
        Vector<int> c(num_elements);

        a = 1 + ENUM;  // a[i] = i + 1
        b = 4;
        c = a * b;

        kmr_sync();
        c.printVec();
        printf("\n");
    }
    return 0;
}
