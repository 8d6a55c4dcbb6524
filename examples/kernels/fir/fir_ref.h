/* The FIR filter's scalar reference, its Q15 arithmetic and the example's
 * input: the taps of a low-pass filter and a test signal. C11 and C++17. */
#ifndef FIR_REF_H
#define FIR_REF_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Q15 arithmetic as the vector unit does it with 15 half-word fraction
 * bits: VMULFXP rounds the 30-bit product to nearest with halves up (an
 * arithmetic shift of product + 2^14) and saturates; VADDFXP saturates. */
static inline int16_t q15_sat(int32_t v)
{
    return (int16_t)(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
}

static inline int16_t q15_mul(int16_t a, int16_t b)
{
    const int32_t p = (int32_t)a * b + (1 << 14);
    /* A flooring shift, spelled without shifting a negative number. */
    return q15_sat(p >= 0 ? p / 32768 : -((-p + 32767) / 32768));
}

static inline int16_t q15_add(int16_t a, int16_t b)
{
    return q15_sat((int32_t)a + b);
}

/* y[i] = q15_add over k = 0 .. taps-1, in that order, of q15_mul(h[k], x[i - k]),
 * with x[i] = 0 for i < 0. */
void fir_ref(const int16_t *x, int16_t *y, int n, const int16_t *h, int taps);

/* The example's filter: a 16-tap low-pass (cut-off at a tenth of the
 * sampling rate, Hamming window) with a gain of 1 in Q15. */
enum {
    FIR_TAPS = 16
};
extern const int16_t fir_taps[FIR_TAPS];

/* The example's input: a triangle with a fast square wave and noise on it,
 * then a full-scale square wave (whose edges the filter overshoots into
 * saturation), then noise with impulses. */
void fir_make_signal(int16_t *x, int n);

/* Compares y with the reference want; on the first difference prints an
 * "Error: " line on standard error and returns 1, else returns 0. */
int fir_check(const int16_t *y, const int16_t *want, int n);

#ifdef __cplusplus
}
#endif

#endif /* FIR_REF_H */
