/* Helpers shared by the worked kernels (see kernel_common.h). */
#include "kernel_common.h"

#include <stdio.h>

#include "kmr_api.h"

/* Whether register reg holds value as a write would leave it: registers
 * keep only the bits of their mask, so a negative stride reads back as its
 * low bits. */
static int holds(uint32_t reg, int value)
{
    return _KMR_GET1(reg) == ((uint32_t)value & get_the_kmrsim()->reg_mask[reg]);
}

void kernel_set_vl(int length)
{
    if (!holds(REG_VL, length))
        kmr_set_vl(length);
}

void kernel_set_2d(int rows, int d_stride, int a_stride, int b_stride)
{
    if (!holds(REG_ROWS, rows) || !holds(REG_ID2, d_stride))
        KMR_SET_VL(KMR_SEL_COUNT, (uint32_t)rows, (uint32_t)d_stride);
    if (!holds(REG_IA2, a_stride) || !holds(REG_IB2, b_stride))
        KMR_SET_VL(KMR_SEL_STRIDES, (uint32_t)a_stride, (uint32_t)b_stride);
}

void kernel_set_3d(int mats, int d_stride, int a_stride, int b_stride)
{
    if (!holds(REG_MATS, mats) || !holds(REG_ID3, d_stride))
        KMR_SET_VL3D(KMR_SEL_COUNT, (uint32_t)mats, (uint32_t)d_stride);
    if (!holds(REG_IA3, a_stride) || !holds(REG_IB3, b_stride))
        KMR_SET_VL3D(KMR_SEL_STRIDES, (uint32_t)a_stride, (uint32_t)b_stride);
}

size_t kernel_sp_bytes(size_t bytes)
{
    const size_t granule = (size_t)kmr_tqm_ptr->scratchpad_alignment_bytes;
    return (bytes + granule - 1) / granule * granule;
}

uint32_t kernel_random(uint32_t *state)
{
    uint32_t x = *state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    *state = x;
    return x;
}

int32_t kernel_random_in(uint32_t *state, int32_t lo, int32_t hi)
{
    const uint32_t span = (uint32_t)(hi - lo) + 1u;
    return lo + (int32_t)(kernel_random(state) % span);
}

uint32_t kernel_checksum(const void *data, size_t bytes)
{
    const uint8_t *p = (const uint8_t *)data;
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < bytes; ++i) {
        h ^= p[i];
        h *= 16777619u;
    }
    return h;
}

void kernel_print_fxp_counts(void)
{
    const kmrsim_stats_t st = kmrsim_get_stats();
    const vinstr_t ops[2] = {VADDFXP, VSUBFXP};
    for (int i = 0; i < 2; ++i) {
        const vinstr_t op = ops[i];
        if (st.instruction_count[op] != 0)
            printf("%s: %u instructions, %u cycles on 4 lanes, %u on 64 lanes (not listed above)\n",
                   kmrsim_opcode_name(op), st.instruction_count[op], st.cycle_count[op][2], st.cycle_count[op][6]);
    }
}

void kernel_print_cycle_totals(void)
{
    const kmrsim_stats_t st = kmrsim_get_stats();
    printf("cycles on 1..256 lanes:");
    for (int k = 0; k < KMRSIM_NUM_CONFIGS; ++k) {
        unsigned long long total = 0;
        for (int op = 0; op < KMRSIM_NUM_OPCODES; ++op)
            total += st.cycle_count[op][k];
        printf(" %llu", total);
    }
    printf("\nDMA cycles on 1..256-byte buses:");
    for (int k = 0; k < KMRSIM_NUM_CONFIGS; ++k)
        printf(" %u", st.dma_cycles[k]);
    printf("\n");
}
