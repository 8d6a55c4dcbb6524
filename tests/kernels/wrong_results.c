/* Kernels that give a wrong result: the flat kernel, then one output
 * element changed. The kernel programs' main files are built with these
 * (kernel_<name>_wrong), which must then report the mismatch and fail. */
#include "filter3x3.h"
#include "fir.h"
#include "matmul.h"
#include "threshold.h"

int fir_wrong(const int16_t *x, int16_t *y, int n, const int16_t *h, int taps);
int filter3x3_wrong(const uint8_t *img, uint8_t *out, int width, int height);
int matmul_wrong(const int16_t *a, const int16_t *b, int32_t *c, int n);
int threshold_wrong(const int16_t *x, int16_t *y, int n, threshold_params p, threshold_counts *counts);

int fir_wrong(const int16_t *x, int16_t *y, int n, const int16_t *h, int taps)
{
    const int status = fir_flat(x, y, n, h, taps);
    y[n - 1] ^= 1;
    return status;
}

int filter3x3_wrong(const uint8_t *img, uint8_t *out, int width, int height)
{
    const int status = filter3x3_flat(img, out, width, height);
    out[width + 1] ^= 1; /* the first interior pixel */
    return status;
}

int matmul_wrong(const int16_t *a, const int16_t *b, int32_t *c, int n)
{
    const int status = matmul_flat(a, b, c, n);
    c[n * n / 2] += 1;
    return status;
}

int threshold_wrong(const int16_t *x, int16_t *y, int n, threshold_params p, threshold_counts *counts)
{
    /* The samples are right, one count is not. */
    const int status = threshold_flat(x, y, n, p, counts);
    counts->gated -= 1;
    return status;
}
