/* The FIR filter's scalar reference and the example's input (fir_ref.h). */
#include "fir_ref.h"

#include <stdio.h>

#include "kernel_common.h"

const int16_t fir_taps[FIR_TAPS] = {-114, -159, -139, 291,  1450, 3284, 5246, 6524,
                                    6524, 5246, 3284, 1450, 291,  -139, -159, -114};

void fir_ref(const int16_t *x, int16_t *y, int n, const int16_t *h, int taps)
{
    for (int i = 0; i < n; ++i) {
        int16_t acc = 0;
        for (int k = 0; k < taps && k <= i; ++k)
            acc = q15_add(acc, q15_mul(h[k], x[i - k]));
        /* Taps beyond the start of the signal multiply zeros: adding 0 changes nothing. */
        y[i] = acc;
    }
}

void fir_make_signal(int16_t *x, int n)
{
    uint32_t seed = 0x2545F491u;
    for (int i = 0; i < n; ++i) {
        int32_t v;
        if (i < 2000) {
            const int phase = i % 400; /* triangle of +-20000, period 400 */
            const int32_t triangle = phase < 200 ? -20000 + 200 * phase : 20000 - 200 * (phase - 200);
            const int32_t square = (i / 4) % 2 ? 6000 : -6000; /* period 8 */
            v = triangle + square + kernel_random_in(&seed, -1024, 1024);
        } else if (i < 3500) {
            v = (i / 100) % 2 ? 32767 : -32768; /* full scale, period 200 */
        } else {
            v = kernel_random_in(&seed, -12000, 12000);
            if (i % 700 == 0)
                v = i % 1400 == 0 ? 32767 : -32768;
        }
        x[i] = q15_sat(v);
    }
}

int fir_check(const int16_t *y, const int16_t *want, int n)
{
    for (int i = 0; i < n; ++i) {
        if (y[i] != want[i]) {
            fprintf(stderr, "Error: fir: y[%d] is %d, the scalar reference gives %d\n", i, y[i], want[i]);
            return 1;
        }
    }
    return 0;
}
