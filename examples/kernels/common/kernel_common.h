/* Helpers shared by the worked kernels: register settings that are made
 * only when they change, deterministic test inputs, checksums and the
 * statistics lines the standard reports leave out. C11 and C++17. */
#ifndef KERNEL_COMMON_H
#define KERNEL_COMMON_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Register settings of the flat kernels. Every setting of the vector length
 * or of a row (or matrix) count is counted in the statistics, and the
 * vector library makes a setting only when the register does not already
 * hold the value; these do the same (they read the registers back), so a
 * flat kernel and its library twin report the same numbers. Strides are in
 * bytes. */
void kernel_set_vl(int length);
void kernel_set_2d(int rows, int d_stride, int a_stride, int b_stride);
void kernel_set_3d(int mats, int d_stride, int a_stride, int b_stride);

/* bytes rounded up to the scratchpad's allocation granule: what an
 * allocation of that size takes, for a kernel that checks the free space
 * before it allocates. */
size_t kernel_sp_bytes(size_t bytes);

/* A small deterministic generator (xorshift32); state must not be 0. */
uint32_t kernel_random(uint32_t *state);
/* A value in lo .. hi (inclusive), hi - lo below 2^31. */
int32_t kernel_random_in(uint32_t *state, int32_t lo, int32_t hi);

/* FNV-1a over the bytes of a result, for the one-line summaries. */
uint32_t kernel_checksum(const void *data, size_t bytes);

/* The fixed-point opcodes VADDFXP and VSUBFXP have no line in either
 * statistics report (their cycles are in the cycle table's Total): one line
 * for each that ran, with its count and its cycles on 4 and 64 lanes. */
void kernel_print_fxp_counts(void);

/* Two lines: the estimated cycles on 1 to 256 lanes (all opcodes) and the
 * DMA cycles on buses of 1 to 256 bytes, the totals of the extended report's
 * two tables. */
void kernel_print_cycle_totals(void);

#ifdef __cplusplus
}
#endif

#endif /* KERNEL_COMMON_H */
