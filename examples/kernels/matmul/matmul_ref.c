/* The matrix product's scalar reference and the example's matrices (matmul_ref.h). */
#include "matmul_ref.h"

#include <stdio.h>

#include "kernel_common.h"

void matmul_ref(const int16_t *a, const int16_t *b, int32_t *c, int n)
{
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            int64_t sum = 0;
            for (int k = 0; k < n; ++k)
                sum += (int32_t)a[i * n + k] * b[k * n + j];
            c[i * n + j] = (int32_t)(sum > INT32_MAX ? INT32_MAX : sum < INT32_MIN ? INT32_MIN : sum);
        }
    }
}

void matmul_make_matrix(int16_t *m, int n, int16_t lo, int16_t hi, uint32_t seed)
{
    for (int i = 0; i < n * n; ++i)
        m[i] = (int16_t)kernel_random_in(&seed, lo, hi);
}

int matmul_check(const int32_t *c, const int32_t *want, int n)
{
    for (int i = 0; i < n * n; ++i) {
        if (c[i] != want[i]) {
            fprintf(stderr, "Error: matmul: c[%d][%d] is %d, the scalar reference gives %d\n", i / n, i % n, c[i],
                    want[i]);
            return 1;
        }
    }
    return 0;
}
