/* The Q15 FIR filter on the flat interface (see fir.h and docs/kernels/fir.md).
 *
 * Scratchpad layout, with H = taps - 1 samples of history:
 *
 *     in[0], in[1]    H + FIR_BLOCK half-words each: history, then the block
 *     out[0], out[1]  FIR_BLOCK half-words each: the filtered block
 *     (free end)      FIR_BLOCK half-words: the products of one tap
 *
 * Block b is filtered from in[b % 2] into out[b % 2]. Before it is
 * filtered, its history (the last H samples of block b - 1, zeros for the
 * first block) is copied to the front of its buffer, and the transfer of
 * block b + 1 into the other buffer is requested, so on the hardware the
 * next block arrives while this one is computed. */
#include "fir.h"

#include "kernel_common.h"
#include "kmr_api.h"

void fir_block_flat(int16_t *y, const int16_t *x, int len, const int16_t *h, int taps)
{
    kmr_sp_push(); /* the products are allocated for this block only */
    int16_t *const product = (int16_t *)kmr_sp_malloc_nodebug((size_t)len * sizeof(int16_t));
    /* The typed calls take non-const operands; the instructions only read x. */
    int16_t *const xs = (int16_t *)x;
    kernel_set_vl(len);
    kmr_SVHHS(VMULFXP, y, h[0], xs); /* y = h[0] * x[i] */
    for (int k = 1; k < taps; ++k) {
        kmr_SVHHS(VMULFXP, product, h[k], xs - k); /* h[k] * x[i - k] */
        kmr_VVHHS(VADDFXP, y, y, product);         /* saturating sum */
    }
    kmr_sp_pop();
}

int fir_flat(const int16_t *x, int16_t *y, int n, const int16_t *h, int taps)
{
    if (taps < 1 || n < 0 || kmr_tqm_ptr->fxp_half_frac_bits != 15)
        return -1;
    const int hist = taps - 1;
    const size_t in_bytes = (size_t)(hist + FIR_BLOCK) * sizeof(int16_t);
    const size_t block_bytes = FIR_BLOCK * sizeof(int16_t);
    if ((size_t)kmr_sp_getfree() < 2 * kernel_sp_bytes(in_bytes) + 3 * kernel_sp_bytes(block_bytes))
        return -1;

    kmr_sp_push(); /* everything below is released by the pop at the end */
    int16_t *in[2], *out[2];
    in[0] = (int16_t *)kmr_sp_malloc_nodebug(in_bytes);
    in[1] = (int16_t *)kmr_sp_malloc_nodebug(in_bytes);
    out[0] = (int16_t *)kmr_sp_malloc_nodebug(block_bytes);
    out[1] = (int16_t *)kmr_sp_malloc_nodebug(block_bytes);

    const int blocks = (n + FIR_BLOCK - 1) / FIR_BLOCK;
    if (blocks > 0)
        sim_dma_to_vector(in[0] + hist, x, (size_t)(n < FIR_BLOCK ? n : FIR_BLOCK) * sizeof(int16_t));
    for (int b = 0; b < blocks; ++b) {
        int16_t *const cur = in[b % 2], *const other = in[(b + 1) % 2];
        const int start = b * FIR_BLOCK;
        const int len = n - start < FIR_BLOCK ? n - start : FIR_BLOCK;

        /* History: zeros before the signal, else the tail of the previous
           block, which is still in the other buffer (every block but the
           last is full). */
        if (hist > 0) {
            kernel_set_vl(hist);
            if (b == 0)
                kmr_SVHHS(VMOV, cur, 0, NULL);
            else
                kmr_VVHHS(VMOV, cur, other + FIR_BLOCK, NULL);
        }
        /* The next block goes into the other buffer, now that its tail is copied. */
        if (b + 1 < blocks) {
            const int next = start + FIR_BLOCK;
            const int next_len = n - next < FIR_BLOCK ? n - next : FIR_BLOCK;
            sim_dma_to_vector(other + hist, x + next, (size_t)next_len * sizeof(int16_t));
        }

        fir_block_flat(out[b % 2], cur + hist, len, h, taps);
        sim_dma_to_host(y + start, out[b % 2], (size_t)len * sizeof(int16_t));
    }
    kmr_sync(); /* the last blocks' results reach y */
    kmr_sp_pop();
    return 0;
}
