/* The threshold kernel's scalar reference and the example's signal.
 * C11 and C++17. */
#ifndef THRESHOLD_REF_H
#define THRESHOLD_REF_H

#include <stdint.h>

#include "threshold.h"

#ifdef __cplusplus
extern "C" {
#endif

/* y and the counts of threshold.h, one sample at a time. */
void threshold_ref(const int16_t *x, int16_t *y, int n, threshold_params p, threshold_counts *counts);

/* The example's signal: loud bursts that reach full scale, a middle level,
 * and quiet stretches of small noise, in turn. */
void threshold_make_signal(int16_t *x, int n);

/* Compares y and the counts with the reference; on the first difference
 * prints an "Error: " line on standard error and returns 1, else 0. */
int threshold_check(const int16_t *y, const int16_t *want, int n, threshold_counts counts,
                    threshold_counts want_counts);

#ifdef __cplusplus
}
#endif

#endif /* THRESHOLD_REF_H */
