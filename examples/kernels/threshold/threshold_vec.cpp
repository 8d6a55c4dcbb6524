// Threshold and clamp with the vector library (see threshold.h and
// docs/kernels/threshold.md). The clamp is two selects, the counts and the
// gate masked regions (KMR_WHERE) on comparisons; the library turns each
// comparison into the subtraction and test that threshold_flat.c issues by
// hand.
//
// A count is the sum of the scalar 1 under the mask, as in the flat
// version: inside a region a sum without vectors runs over the mask, so
// both versions issue the same instructions.
#include "threshold.h"

#include "Vector.hpp"
#include "kernel_common.h"

using namespace KMR;

extern "C" int threshold_vec(const int16_t *x, int16_t *y, int n, threshold_params p, threshold_counts *counts)
{
    if (n < 0 || p.lo > p.hi || kmr_tqm_ptr->max_masked_vector_length < THRESHOLD_STRIP)
        return -1;
    const int strips = (n + THRESHOLD_STRIP - 1) / THRESHOLD_STRIP;
    const size_t signal_bytes = size_t(n) * sizeof(int16_t), strip_bytes = THRESHOLD_STRIP * sizeof(int16_t);
    const size_t count_bytes = 2 * size_t(strips) * sizeof(int16_t), total_bytes = 2 * sizeof(int32_t);
    if (size_t(kmr_sp_getfree()) < 2 * kernel_sp_bytes(signal_bytes) + kernel_sp_bytes(count_bytes) +
                                       kernel_sp_bytes(total_bytes) + 3 * kernel_sp_bytes(strip_bytes))
        return -1;  // a vector that does not fit would stop the program
    counts->clipped = counts->gated = 0;
    if (n == 0)
        return 0;

    Vector<int16_t> sx(n), sy(n);
    Vector<int16_t, 2> per_strip(strips, 2, strips);  // row 0: clipped, row 1: gated; at most 1024 each
    Vector<int32_t> totals(2);
    Vector<uint16_t> magnitude(THRESHOLD_STRIP);
    sx.dma_read(x, n);

    const int hi = p.hi, lo = p.lo, gate = p.gate;
    for (int s = 0; s < strips; ++s) {
        const int len = n - s * THRESHOLD_STRIP < THRESHOLD_STRIP ? n - s * THRESHOLD_STRIP : THRESHOLD_STRIP;
        const Vector<int16_t> xs(sx.data + s * THRESHOLD_STRIP, len);
        Vector<int16_t> ys(sy.data + s * THRESHOLD_STRIP, len);
        Vector<uint16_t> mag(magnitude.data, len);

        // The clamp, with conditional moves.
        ys = select(xs > hi, hi, xs);
        ys = select(ys < lo, lo, ys);

        KMR_WHERE(ys != xs)  // clipped
        {
            per_strip.get_row(0)[s] = sum(1);
        }

        mag = vabsdiff(xs, 0);  // |x| modulo 2^16: right as unsigned, also for -32768
        KMR_WHERE(mag < gate)
        {
            ys = 0;
            per_strip.get_row(1)[s] = sum(1);
        }
    }

    Vector<int32_t, 2>(totals.data, 1, 2, 1) = sum(per_strip);  // one sum per row, into words

    int32_t host_totals[2];
    sy.dma_write(y, n);
    totals.dma_write(host_totals, 2);
    kmr_sync();
    counts->clipped = host_totals[0];
    counts->gated = host_totals[1];
    return 0;
}
