// The integer matrix product with the vector library (see matmul.h and
// docs/kernels/matmul.md): the same layout and instructions as
// matmul_flat.c, with the transpose written as a copy between two 3D views
// and each row of c as the sum of a 2D product.
#include "matmul.h"

#include "Vector.hpp"
#include "kernel_common.h"

using namespace KMR;

extern "C" int matmul_vec(const int16_t *a, const int16_t *b, int32_t *c, int n)
{
    if (n < 1)
        return -1;
    const size_t half_bytes = size_t(n) * size_t(n) * sizeof(int16_t);
    const size_t word_bytes = size_t(n) * size_t(n) * sizeof(int32_t);
    if (size_t(kmr_sp_getfree()) < 3 * kernel_sp_bytes(half_bytes) + kernel_sp_bytes(word_bytes))
        return -1;  // a vector that does not fit would stop the program

    Vector<int16_t> sa(n * n), sb(n * n), bt(n * n);
    Vector<int32_t> sc(n * n);
    sa.dma_read(a, n * n);
    sb.dma_read(b, n * n);

    // bt[j][k] = b[k][j]: matrix k, row j, one element per row (strides in elements).
    const Vector<int16_t, 3> b_columns(sb.data, 1, size_t(n), 1, size_t(n), n);
    Vector<int16_t, 3> bt_rows(bt.data, 1, size_t(n), n, size_t(n), 1);
    bt_rows = b_columns;

    // c[i][j] = sum over k of a[i][k] * bt[j][k]: row j of the product pairs
    // row i of a (row stride 0) with row j of bt; its sum goes to c[i][j].
    const Vector<int16_t, 2> bt_matrix(bt.data, n, size_t(n), n);
    for (int i = 0; i < n; ++i) {
        const Vector<int16_t, 2> a_row(sa.data + i * n, n, size_t(n), 0);
        Vector<int32_t, 2> c_row(sc.data + i * n, 1, size_t(n), 1);
        c_row = sum(a_row * bt_matrix);
    }

    sc.dma_write(c, n * n);
    kmr_sync();
    return 0;
}
