/* kernel_matmul_flat and kernel_matmul_vec: multiplies two test matrices,
 * checks the product against the scalar reference and prints the
 * statistics. The build names the kernel function in KERNEL (matmul_flat
 * or matmul_vec). */
#include <stdio.h>

#include "kernel_common.h"
#include "kmr_api.h"
#include "matmul.h"
#include "matmul_ref.h"

#ifndef KERNEL
#error "build with -DKERNEL=matmul_flat or -DKERNEL=matmul_vec"
#endif

/* The kernel function: one of the two above, or one of the same type. */
int KERNEL(const int16_t *a, const int16_t *b, int32_t *c, int n);

enum {
    N = 64
};

static int16_t a[N * N], b[N * N];
static int32_t c[N * N], want[N * N];

int main(void)
{
    kmrsim_init(4, 64, 256, 16, 15, 4);
    matmul_make_matrix(a, N, -1024, 1023, 0x1234567u);
    matmul_make_matrix(b, N, -1024, 1023, 0x89ABCDEu);
    if (KERNEL(a, b, c, N) != 0) {
        fprintf(stderr, "Error: matmul: the kernel refused to run\n");
        return 1;
    }
    matmul_ref(a, b, want, N);
    if (matmul_check(c, want, N) != 0)
        return 1;

    long long trace = 0;
    for (int i = 0; i < N; ++i)
        trace += c[i * N + i];
    printf("matmul: %dx%d int16 times %dx%d int16 into int32: trace %lld, checksum %08x, matches the scalar "
           "reference\n\n",
           N, N, N, N, trace, (unsigned)kernel_checksum(c, sizeof c));
    kmrsim_print_stats_extended();
    return 0;
}
