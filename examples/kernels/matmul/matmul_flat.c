/* The integer matrix product on the flat interface (see matmul.h and
 * docs/kernels/matmul.md).
 *
 * Within a row of an instruction the elements of every operand are
 * adjacent, so a dot product needs a row of a and a column of b laid out as
 * rows: b is transposed on the scratchpad first, bt[j][k] = b[k][j]. Then
 * row i of c is one accumulating 2D instruction with n rows of n elements:
 * row j multiplies row i of a (row stride 0: the same row every time) by
 * row j of bt and stores its sum in c[i][j] (row stride 4 bytes). The
 * sources are half-words and the destination words, so the products and
 * their sums are formed in 32 bits (mode VVHWS).
 *
 * Scratchpad layout: a, b and bt (n x n half-words each), c (n x n words). */
#include "matmul.h"

#include "kernel_common.h"
#include "kmr_api.h"

int matmul_flat(const int16_t *a, const int16_t *b, int32_t *c, int n)
{
    if (n < 1)
        return -1;
    const size_t half_bytes = (size_t)n * (size_t)n * sizeof(int16_t);
    const size_t word_bytes = (size_t)n * (size_t)n * sizeof(int32_t);
    if ((size_t)kmr_sp_getfree() < 3 * kernel_sp_bytes(half_bytes) + kernel_sp_bytes(word_bytes))
        return -1;
    kmr_sp_push();
    int16_t *const sa = (int16_t *)kmr_sp_malloc_nodebug(half_bytes);
    int16_t *const sb = (int16_t *)kmr_sp_malloc_nodebug(half_bytes);
    int16_t *const bt = (int16_t *)kmr_sp_malloc_nodebug(half_bytes);
    int32_t *const sc = (int32_t *)kmr_sp_malloc_nodebug(word_bytes);
    sim_dma_to_vector(sa, a, half_bytes);
    sim_dma_to_vector(sb, b, half_bytes);

    /* The transpose: one 3D move of single elements (vector length 1).
       Matrix k reads row k of b, its row j element b[k][j] (2 bytes further
       per row, 2n per matrix), and writes bt[j][k] (2n bytes further per
       row, 2 per matrix). */
    const int row = 2 * n; /* bytes per row of a half-word matrix */
    kernel_set_vl(1);
    kernel_set_2d(n, row, 2, 0);
    kernel_set_3d(n, 2, row, 0);
    kmr_3D_VVHHS(VMOV, bt, sb, NULL);

    /* Row i of c: n rows of n products, each row summed into one word. */
    kernel_set_vl(n);
    kernel_set_2d(n, 4, 0, row);
    for (int i = 0; i < n; ++i)
        kmr_acc_2D_VVHWS(VMUL, sc + i * n, sa + i * n, bt);

    sim_dma_to_host(c, sc, word_bytes);
    kmr_sync();
    kmr_sp_pop();
    return 0;
}
