/* The 3x3 filter's scalar reference and the example's image (filter3x3_ref.h). */
#include "filter3x3_ref.h"

#include <stdio.h>

#include "kernel_common.h"

int filter3x3_ref(const uint8_t *img, uint8_t *out, int width, int height)
{
    int clamped = 0;
    for (int r = 1; r < height - 1; ++r) {
        for (int c = 1; c < width - 1; ++c) {
            const uint8_t *p = img + r * width + c;
            const int w = width;
            const int gx = (p[-w + 1] + 2 * p[1] + p[w + 1]) - (p[-w - 1] + 2 * p[-1] + p[w - 1]);
            const int gy = (p[w - 1] + 2 * p[w] + p[w + 1]) - (p[-w - 1] + 2 * p[-w] + p[-w + 1]);
            const int m = (gx < 0 ? -gx : gx) + (gy < 0 ? -gy : gy);
            clamped += m > 255;
            out[r * width + c] = (uint8_t)(m > 255 ? 255 : m);
        }
    }
    return clamped;
}

void filter3x3_make_image(uint8_t *img, int width, int height)
{
    uint32_t seed = 0x9E3779B9u;
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            int v = (r + c) * 160 / (width + height); /* gradient 0 .. 160 */
            if (r >= height / 8 && r < height / 3 && c >= width / 10 && c < width / 2)
                v = 230; /* bright rectangle */
            if (r >= height / 2 && r < height * 7 / 8 && c >= width * 3 / 5 && c < width * 9 / 10)
                v = 20; /* dark rectangle */
            const int dr = r - height * 2 / 3, dc = c - width / 4, radius = height / 6;
            if (dr * dr + dc * dc < radius * radius)
                v = 255 - v; /* a disc of the inverted picture */
            if ((r / 24 + c / 24) % 2 == 0 && r < height / 10)
                v = 90; /* checkerboard strip along the top */
            v += kernel_random_in(&seed, -6, 6);
            img[r * width + c] = (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v);
        }
    }
}

int filter3x3_check(const uint8_t *out, const uint8_t *want, int width, int height)
{
    for (int i = 0; i < width * height; ++i) {
        if (out[i] != want[i]) {
            fprintf(stderr, "Error: filter3x3: pixel (row %d, column %d) is %d, the scalar reference gives %d\n",
                    i / width, i % width, out[i], want[i]);
            return 1;
        }
    }
    return 0;
}
