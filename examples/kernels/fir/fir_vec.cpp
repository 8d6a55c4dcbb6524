// The Q15 FIR filter with the vector library (see fir.h and
// docs/kernels/fir.md). The scratchpad layout, the DMA schedule and the
// instructions are those of fir_flat.c: four vectors on the scratchpad
// stack (two input buffers with room for the history in front, two output
// buffers), and the products of one tap in the temporary that the library
// places at the free end of the scratchpad.
#include "fir.h"

#include "Vector.hpp"
#include "kernel_common.h"

using namespace KMR;

extern "C" void fir_block_vec(int16_t *y, const int16_t *x, int len, const int16_t *h, int taps)
{
    // Views of the block and of the samples each tap reads (the library
    // only reads sources, but its views hold non-const pointers).
    int16_t *const xs = const_cast<int16_t *>(x);
    Vector<int16_t> out(y, len);
    out = vmulfxp(Vector<int16_t>(xs, len), int(h[0]));
    for (int k = 1; k < taps; ++k)
        out = vaddfxp(out, vmulfxp(Vector<int16_t>(xs - k, len), int(h[k])));  // the product is a temporary
}

extern "C" int fir_vec(const int16_t *x, int16_t *y, int n, const int16_t *h, int taps)
{
    if (taps < 1 || n < 0 || kmr_tqm_ptr->fxp_half_frac_bits != 15)
        return -1;
    const int hist = taps - 1;
    const size_t in_bytes = size_t(hist + FIR_BLOCK) * sizeof(int16_t);
    const size_t block_bytes = FIR_BLOCK * sizeof(int16_t);
    if (size_t(kmr_sp_getfree()) < 2 * kernel_sp_bytes(in_bytes) + 3 * kernel_sp_bytes(block_bytes))
        return -1;  // a vector that does not fit would stop the program

    Vector<int16_t> in0(hist + FIR_BLOCK), in1(hist + FIR_BLOCK), out0(FIR_BLOCK), out1(FIR_BLOCK);
    Vector<int16_t> *const in[2] = {&in0, &in1};
    Vector<int16_t> *const out[2] = {&out0, &out1};

    const int blocks = (n + FIR_BLOCK - 1) / FIR_BLOCK;
    if (blocks > 0) {
        const int len = n < FIR_BLOCK ? n : FIR_BLOCK;
        in0[RANGE(hist, hist + len)].dma_read(x, len);
    }
    for (int b = 0; b < blocks; ++b) {
        Vector<int16_t> &cur = *in[b % 2], &other = *in[(b + 1) % 2];
        const int start = b * FIR_BLOCK;
        const int len = n - start < FIR_BLOCK ? n - start : FIR_BLOCK;

        // History: zeros before the signal, else the previous block's tail.
        if (hist > 0) {
            if (b == 0)
                cur[RANGE(0, hist)] = 0;
            else
                cur[RANGE(0, hist)] = other[RANGE(FIR_BLOCK, FIR_BLOCK + hist)];
        }
        if (b + 1 < blocks) {
            const int next = start + FIR_BLOCK;
            const int next_len = n - next < FIR_BLOCK ? n - next : FIR_BLOCK;
            other[RANGE(hist, hist + next_len)].dma_read(x + next, next_len);
        }

        fir_block_vec(out[b % 2]->data, cur.data + hist, len, h, taps);
        (*out[b % 2])[RANGE(0, len)].dma_write(y + start, len);
    }
    kmr_sync();
    return 0;
}
