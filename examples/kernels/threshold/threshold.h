/* Threshold and clamp with masks, written twice: with the flat interface
 * (threshold_flat.c) and with the vector library (threshold_vec.cpp).
 * On 16-bit signed samples:
 *
 *     y[i] = 0                      where |x[i]| < gate     (a noise gate)
 *            min(max(x[i], lo), hi) elsewhere               (a limiter)
 *
 * and two counts: the samples outside lo .. hi (clipped) and the samples
 * below the gate (gated). C11 and C++17. */
#ifndef THRESHOLD_H
#define THRESHOLD_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Samples per strip: a mask covers one strip, and the mask memory of
 * kmrsim_init(4, ..., 256, ...) holds 1024 positions. */
enum {
    THRESHOLD_STRIP = 1024
};

typedef struct threshold_params {
    int16_t lo, hi; /* the clamp limits, lo <= hi */
    uint16_t gate;  /* samples of magnitude below this become 0 */
} threshold_params;

typedef struct threshold_counts {
    int32_t clipped; /* samples below lo or above hi */
    int32_t gated;   /* samples of magnitude below gate */
} threshold_counts;

/* The whole signal: x and y are host arrays of n samples. x comes in by
 * DMA, every strip is clamped with conditional moves and gated and counted
 * under masks, and y and the counts go back by DMA. Returns 0, or -1 (and
 * does nothing) when n < 0, lo > hi, the mask memory holds fewer than
 * THRESHOLD_STRIP positions or the scratchpad lacks room. */
int threshold_flat(const int16_t *x, int16_t *y, int n, threshold_params p, threshold_counts *counts);
int threshold_vec(const int16_t *x, int16_t *y, int n, threshold_params p, threshold_counts *counts);

#ifdef __cplusplus
}
#endif

#endif /* THRESHOLD_H */
