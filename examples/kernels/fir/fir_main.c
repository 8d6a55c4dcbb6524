/* kernel_fir_flat and kernel_fir_vec: filters the test signal, checks the
 * result against the scalar reference and prints the statistics. The build
 * names the kernel function in KERNEL (fir_flat or fir_vec). */
#include <stdio.h>

#include "fir.h"
#include "fir_ref.h"
#include "kernel_common.h"
#include "kmr_api.h"

#ifndef KERNEL
#error "build with -DKERNEL=fir_flat or -DKERNEL=fir_vec"
#endif

/* The kernel function: one of the two above, or one of the same type. */
int KERNEL(const int16_t *x, int16_t *y, int n, const int16_t *h, int taps);

enum {
    SAMPLES = 5000
};

static int16_t x[SAMPLES], y[SAMPLES], want[SAMPLES];

int main(void)
{
    kmrsim_init(4, 64, 256, 16, 15, 4); /* Q15 half-words */
    fir_make_signal(x, SAMPLES);
    if (KERNEL(x, y, SAMPLES, fir_taps, FIR_TAPS) != 0) {
        fprintf(stderr, "Error: fir: the kernel refused to run\n");
        return 1;
    }
    fir_ref(x, want, SAMPLES, fir_taps, FIR_TAPS);
    if (fir_check(y, want, SAMPLES) != 0)
        return 1;

    int full_scale = 0;
    for (int i = 0; i < SAMPLES; ++i)
        full_scale += y[i] == 32767 || y[i] == -32768;
    printf("fir: %d samples, %d taps, blocks of %d: %d outputs at full scale, checksum %08x, matches the scalar "
           "reference\n\n",
           SAMPLES, FIR_TAPS, FIR_BLOCK, full_scale, (unsigned)kernel_checksum(y, sizeof y));
    kmrsim_print_stats_extended();
    kernel_print_fxp_counts();
    return 0;
}
