/* The threshold kernel's scalar reference and the example's signal (threshold_ref.h). */
#include "threshold_ref.h"

#include <stdio.h>

#include "kernel_common.h"

void threshold_ref(const int16_t *x, int16_t *y, int n, threshold_params p, threshold_counts *counts)
{
    counts->clipped = 0;
    counts->gated = 0;
    for (int i = 0; i < n; ++i) {
        const int v = x[i], magnitude = v < 0 ? -v : v;
        counts->clipped += v < p.lo || v > p.hi;
        y[i] = (int16_t)(v < p.lo ? p.lo : v > p.hi ? p.hi : v);
        if (magnitude < p.gate) {
            y[i] = 0;
            counts->gated += 1;
        }
    }
}

void threshold_make_signal(int16_t *x, int n)
{
    uint32_t seed = 0xC0FFEE11u;
    for (int i = 0; i < n; ++i) {
        const int part = i % 1024;
        const int level = part < 256 ? 36000 : part < 768 ? 9000 : 400; /* burst, middle, quiet */
        const int phase = i % 64;
        const int triangle = phase < 32 ? -16384 + 1024 * phase : 16384 - 1024 * (phase - 32); /* +-16384 */
        int v = triangle / 16 * level / 1024 + kernel_random_in(&seed, -level / 8, level / 8);
        if (i % 1000 == 999)
            v = -32768; /* the one value whose magnitude a signed half-word cannot hold */
        x[i] = (int16_t)(v < -32768 ? -32768 : v > 32767 ? 32767 : v);
    }
}

int threshold_check(const int16_t *y, const int16_t *want, int n, threshold_counts counts, threshold_counts want_counts)
{
    for (int i = 0; i < n; ++i) {
        if (y[i] != want[i]) {
            fprintf(stderr, "Error: threshold: y[%d] is %d, the scalar reference gives %d\n", i, y[i], want[i]);
            return 1;
        }
    }
    if (counts.clipped != want_counts.clipped || counts.gated != want_counts.gated) {
        fprintf(stderr, "Error: threshold: counts %d clipped, %d gated; the scalar reference gives %d and %d\n",
                counts.clipped, counts.gated, want_counts.clipped, want_counts.gated);
        return 1;
    }
    return 0;
}
