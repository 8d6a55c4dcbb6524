/* A FIR filter on 16-bit Q15 samples, written twice: with the flat
 * interface (fir_flat.c) and with the vector library (fir_vec.cpp).
 *
 *     y[i] = sum over k = 0 .. taps-1 of h[k] * x[i - k],  x[i] = 0 for i < 0
 *
 * Every product is a VMULFXP (Q15: rounded to nearest, halves up, and
 * saturated) and the products are added in tap order with VADDFXP, which
 * saturates; fir_ref.h has the same arithmetic on the host.
 *
 * Both need kmrsim_init with 15 half-word fraction bits. C11 and C++17. */
#ifndef FIR_H
#define FIR_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Outputs per block: the signal goes through the scratchpad in blocks of
 * this many samples. */
enum {
    FIR_BLOCK = 1024
};

/* The whole filter. x and y are host arrays of n samples; h holds taps
 * coefficients. The signal is streamed through the scratchpad by DMA, block
 * by block, with two input and two output buffers. Returns 0, or -1 (and
 * does nothing) when taps < 1, n < 0, the half-word fraction is not 15 bits
 * or the scratchpad lacks room. */
int fir_flat(const int16_t *x, int16_t *y, int n, const int16_t *h, int taps);
int fir_vec(const int16_t *x, int16_t *y, int n, const int16_t *h, int taps);

/* One block, on the scratchpad: y[i] for i = 0 .. len-1 from x[-(taps-1)]
 * .. x[len-1] (x points at the block's first sample, with taps-1 samples of
 * history before it). The products go to a temporary allocation of len
 * half-words, given back before the function returns. 2 * taps - 1
 * instructions of len elements. */
void fir_block_flat(int16_t *y, const int16_t *x, int len, const int16_t *h, int taps);
void fir_block_vec(int16_t *y, const int16_t *x, int len, const int16_t *h, int taps);

#ifdef __cplusplus
}
#endif

#endif /* FIR_H */
