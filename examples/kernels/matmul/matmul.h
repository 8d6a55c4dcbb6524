/* An integer matrix product, written twice: with the flat interface
 * (matmul_flat.c) and with the vector library (matmul_vec.cpp).
 *
 *     c[i][j] = sum over k of a[i][k] * b[k][j]
 *
 * for n x n matrices of int16_t a and b, into int32_t c; each element is a
 * dot product summed by an accumulating instruction in the 40-bit
 * accumulator and saturated to 32 bits (with its flag set) when it does
 * not fit. C11 and C++17. */
#ifndef MATMUL_H
#define MATMUL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The product of host matrices (rows packed). a and b are brought in by
 * DMA, b is transposed on the scratchpad so that its columns become rows,
 * each row of c is one accumulating 2D instruction, and c goes back by DMA.
 * Returns 0, or -1 (and does nothing) when n < 1 or the scratchpad cannot
 * hold the four matrices. */
int matmul_flat(const int16_t *a, const int16_t *b, int32_t *c, int n);
int matmul_vec(const int16_t *a, const int16_t *b, int32_t *c, int n);

#ifdef __cplusplus
}
#endif

#endif /* MATMUL_H */
