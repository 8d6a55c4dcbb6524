/* The 3x3 filter's scalar reference and the example's test image.
 * C11 and C++17. */
#ifndef FILTER3X3_REF_H
#define FILTER3X3_REF_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The Sobel magnitude of filter3x3.h on the interior of img into out (the
 * border of out is not written). Returns the number of pixels whose
 * magnitude was above 255 and clamped. */
int filter3x3_ref(const uint8_t *img, uint8_t *out, int width, int height);

/* The example's image: a diagonal gradient with rectangles, discs and
 * noise on it. */
void filter3x3_make_image(uint8_t *img, int width, int height);

/* Compares out with the reference want (whole images); on the first
 * difference prints an "Error: " line on standard error and returns 1,
 * else returns 0. */
int filter3x3_check(const uint8_t *out, const uint8_t *want, int width, int height);

#ifdef __cplusplus
}
#endif

#endif /* FILTER3X3_REF_H */
