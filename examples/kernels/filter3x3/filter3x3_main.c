/* kernel_filter3x3_flat and kernel_filter3x3_vec: filters the test image,
 * checks the result against the scalar reference and prints the
 * statistics. The build names the kernel function in KERNEL
 * (filter3x3_flat or filter3x3_vec). */
#include <stdio.h>

#include "filter3x3.h"
#include "filter3x3_ref.h"
#include "kernel_common.h"
#include "kmr_api.h"

#ifndef KERNEL
#error "build with -DKERNEL=filter3x3_flat or -DKERNEL=filter3x3_vec"
#endif

/* The kernel function: one of the two above, or one of the same type. */
int KERNEL(const uint8_t *img, uint8_t *out, int width, int height);

enum {
    WIDTH = 640,
    HEIGHT = 480
};

/* The border of out and want is never written: it stays 0. */
static uint8_t img[WIDTH * HEIGHT], out[WIDTH * HEIGHT], want[WIDTH * HEIGHT];

int main(void)
{
    kmrsim_init(4, 64, 256, 16, 15, 4);
    filter3x3_make_image(img, WIDTH, HEIGHT);
    if (KERNEL(img, out, WIDTH, HEIGHT) != 0) {
        fprintf(stderr, "Error: filter3x3: the kernel refused to run\n");
        return 1;
    }
    const int clamped = filter3x3_ref(img, want, WIDTH, HEIGHT);
    if (filter3x3_check(out, want, WIDTH, HEIGHT) != 0)
        return 1;

    printf("filter3x3: Sobel magnitude of a %dx%d image in %d tiles of up to %dx%d: %d pixels clamped to 255, "
           "checksum %08x, matches the scalar reference\n\n",
           WIDTH, HEIGHT, filter3x3_tile_count(WIDTH, HEIGHT), FILTER3X3_TILE_W, FILTER3X3_TILE_H, clamped,
           (unsigned)kernel_checksum(out, sizeof out));
    kmrsim_print_stats_extended();
    kernel_print_fxp_counts();
    return 0;
}
