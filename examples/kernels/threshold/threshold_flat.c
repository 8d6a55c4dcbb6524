/* Threshold and clamp on the flat interface (see threshold.h and
 * docs/kernels/threshold.md).
 *
 * Every test compares with zero, so a comparison is a subtraction whose
 * result (and flag) a conditional move or a mask setup then tests:
 * x > hi is hi - x < 0, y < lo is lo - y > 0. The clamp needs one
 * conditional move per limit and no mask. The counts and the gate use
 * masks: a mask setup (two instructions) enables the positions where a test
 * holds, a masked move writes only those, and a masked accumulating move of
 * the scalar 1 adds up 1 per enabled position, which counts them. A strip
 * has at most 1024 positions, so its counts are half-words, and so are
 * the instructions that form them (an instruction is charged for the wider
 * of its element widths); the totals are summed into words.
 *
 * |x| comes from VABSDIFF with 0, which keeps the low 16 bits of the
 * magnitude: 32768 for -32768, which is right when read as unsigned, so the
 * gate's comparison is an unsigned one.
 *
 * Scratchpad layout: x and y (n half-words each), the counts (two rows of
 * one half-word per strip: clipped, then gated), the two totals, |x| of one
 * strip, and at the free end the difference a test reads. */
#include "threshold.h"

#include "kernel_common.h"
#include "kmr_api.h"

int threshold_flat(const int16_t *x, int16_t *y, int n, threshold_params p, threshold_counts *counts)
{
    if (n < 0 || p.lo > p.hi || kmr_tqm_ptr->max_masked_vector_length < THRESHOLD_STRIP)
        return -1;
    const int strips = (n + THRESHOLD_STRIP - 1) / THRESHOLD_STRIP;
    const size_t signal_bytes = (size_t)n * sizeof(int16_t), strip_bytes = THRESHOLD_STRIP * sizeof(int16_t);
    const size_t count_bytes = 2 * (size_t)strips * sizeof(int16_t), total_bytes = 2 * sizeof(int32_t);
    if ((size_t)kmr_sp_getfree() < 2 * kernel_sp_bytes(signal_bytes) + kernel_sp_bytes(count_bytes) +
                                       kernel_sp_bytes(total_bytes) + 2 * kernel_sp_bytes(strip_bytes))
        return -1;
    counts->clipped = counts->gated = 0;
    if (n == 0)
        return 0;

    kmr_sp_push();
    int16_t *const sx = (int16_t *)kmr_sp_malloc_nodebug(signal_bytes);
    int16_t *const sy = (int16_t *)kmr_sp_malloc_nodebug(signal_bytes);
    int16_t *const per_strip = (int16_t *)kmr_sp_malloc_nodebug(count_bytes);
    int32_t *const totals = (int32_t *)kmr_sp_malloc_nodebug(total_bytes);
    uint16_t *const magnitude = (uint16_t *)kmr_sp_malloc_nodebug(strip_bytes);
    int16_t *const diff = (int16_t *)kmr_sp_malloc_nodebug(strip_bytes);
    sim_dma_to_vector(sx, x, signal_bytes);

    for (int s = 0; s < strips; ++s) {
        int16_t *const xs = sx + s * THRESHOLD_STRIP, *const ys = sy + s * THRESHOLD_STRIP;
        const int len = n - s * THRESHOLD_STRIP < THRESHOLD_STRIP ? n - s * THRESHOLD_STRIP : THRESHOLD_STRIP;
        kernel_set_vl(len);

        /* The clamp: y = x, then hi where x > hi, then lo where y < lo. */
        kmr_SVHHS(VSUB, diff, p.hi, xs);
        kmr_VVHHS(VMOV, ys, xs, NULL);
        kmr_SVHHS(VCMV_LTZ, ys, p.hi, diff);
        kmr_SVHHS(VSUB, diff, p.lo, ys);
        kmr_SVHHS(VCMV_GTZ, ys, p.lo, diff);

        /* Clipped where the clamp changed the sample: count under a mask. */
        kmr_VVHHS(VSUB, diff, ys, xs);
        kmrsim_setup_mask(V_VVHHS, VCMV_NZ, diff);
        kmr_masked_acc_1D_SEHHS(VMOV, per_strip + s, 1, NULL);

        /* The gate: where |x| < gate, y = 0, and count. */
        kmr_SVHHS(VABSDIFF, (int16_t *)magnitude, 0, xs);
        kmr_SVHHU(VSUB, (uint16_t *)diff, p.gate, magnitude);
        kmrsim_setup_mask(V_VVHHU, VCMV_GTZ, diff);
        kmr_masked_1D_SVHHS(VMOV, ys, 0, NULL);
        kmr_masked_acc_1D_SEHHS(VMOV, per_strip + strips + s, 1, NULL);
    }

    /* The two totals: one accumulating 2D move sums each row of counts into a word. */
    kernel_set_vl(strips);
    kernel_set_2d(2, sizeof(int32_t), strips * (int)sizeof(int16_t), 0);
    kmr_acc_2D_VVHWS(VMOV, totals, per_strip, NULL);

    int32_t host_totals[2];
    sim_dma_to_host(y, sy, signal_bytes);
    sim_dma_to_host(host_totals, totals, total_bytes);
    kmr_sync();
    counts->clipped = host_totals[0];
    counts->gated = host_totals[1];
    kmr_sp_pop();
    return 0;
}
