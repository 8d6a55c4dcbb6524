// Threshold and clamp with the vector library (see threshold.h and
// docs/kernels/threshold.md). The clamp is two selects, the counts and the
// gate masked regions (KMR_WHERE) on comparisons; the library turns each
// comparison into the subtraction and test that threshold_flat.c issues by
// hand.
//
// One difference by design: inside a region a count is the sum of a vector
// of ones (an accumulating move of a vector under the mask). The flat
// version sums the scalar 1 instead, but a sum of a scalar has no length of
// its own in the library: it runs over its destination's size (here the
// counts of one row), which does not cover the mask, and a masked region
// stops the program on that. So this version fills a strip of
// ones once: one VMOV more (of the first strip's length, so that it needs no
// vector length setting of its own), and a strip of scratchpad.
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
    Vector<int16_t> ones(n < THRESHOLD_STRIP ? n : THRESHOLD_STRIP);  // as long as the longest strip
    ones = 1;
    sx.dma_read(const_cast<int16_t *>(x), n);  // dma_read takes a non-const source

    const int hi = p.hi, lo = p.lo, gate = p.gate;
    for (int s = 0; s < strips; ++s) {
        const int len = n - s * THRESHOLD_STRIP < THRESHOLD_STRIP ? n - s * THRESHOLD_STRIP : THRESHOLD_STRIP;
        const Vector<int16_t> xs(sx.data + s * THRESHOLD_STRIP, len), one(ones.data, len);
        Vector<int16_t> ys(sy.data + s * THRESHOLD_STRIP, len);
        Vector<uint16_t> mag(magnitude.data, len);

        // The clamp, with conditional moves.
        ys = select(xs > hi, hi, xs);
        ys = select(ys < lo, lo, ys);

        KMR_WHERE(ys != xs)  // clipped
        {
            per_strip.get_row(0)[s] = one;
        }

        mag = vabsdiff(xs, 0);  // |x| modulo 2^16: right as unsigned, also for -32768
        KMR_WHERE(mag < gate)
        {
            ys = 0;
            per_strip.get_row(1)[s] = one;
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
