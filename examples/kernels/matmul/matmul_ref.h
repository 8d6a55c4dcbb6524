/* The matrix product's scalar reference and the example's matrices.
 * C11 and C++17. */
#ifndef MATMUL_REF_H
#define MATMUL_REF_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* c = a x b for n x n matrices, every element summed exactly and
 * saturated to 32 bits. */
void matmul_ref(const int16_t *a, const int16_t *b, int32_t *c, int n);

/* n x n elements in lo .. hi from a generator seeded with seed. */
void matmul_make_matrix(int16_t *m, int n, int16_t lo, int16_t hi, uint32_t seed);

/* Compares c with the reference want; on the first difference prints an
 * "Error: " line on standard error and returns 1, else returns 0. */
int matmul_check(const int32_t *c, const int32_t *want, int n);

#ifdef __cplusplus
}
#endif

#endif /* MATMUL_REF_H */
