/* kernel_threshold_flat and kernel_threshold_vec: gates and clamps the test
 * signal, checks the result against the scalar reference and prints the
 * statistics. The build names the kernel function in KERNEL
 * (threshold_flat or threshold_vec). */
#include <stdio.h>

#include "kernel_common.h"
#include "kmr_api.h"
#include "threshold.h"
#include "threshold_ref.h"

#ifndef KERNEL
#error "build with -DKERNEL=threshold_flat or -DKERNEL=threshold_vec"
#endif

/* The kernel function: one of the two above, or one of the same type. */
int KERNEL(const int16_t *x, int16_t *y, int n, threshold_params p, threshold_counts *counts);

enum {
    SAMPLES = 4096
};

static int16_t x[SAMPLES], y[SAMPLES], want[SAMPLES];

int main(void)
{
    kmrsim_init(4, 64, 256, 16, 15, 4); /* mask memory: 4 x 256 positions */
    threshold_make_signal(x, SAMPLES);
    threshold_params p;
    p.lo = -24576;
    p.hi = 24576;
    p.gate = 512;
    threshold_counts counts, want_counts;
    if (KERNEL(x, y, SAMPLES, p, &counts) != 0) {
        fprintf(stderr, "Error: threshold: the kernel refused to run\n");
        return 1;
    }
    threshold_ref(x, want, SAMPLES, p, &want_counts);
    if (threshold_check(y, want, SAMPLES, counts, want_counts) != 0)
        return 1;

    printf("threshold: %d samples in strips of %d, clamped to %d .. %d, gated below %d: %d clipped, %d gated, "
           "checksum %08x, matches the scalar reference\n\n",
           SAMPLES, THRESHOLD_STRIP, p.lo, p.hi, p.gate, counts.clipped, counts.gated,
           (unsigned)kernel_checksum(y, sizeof y));
    kmrsim_print_stats();
    printf("\n");
    kernel_print_cycle_totals();
    return 0;
}
