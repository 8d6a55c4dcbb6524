/* A 3x3 image filter on 8-bit images, in tiles, written twice: with the
 * flat interface (filter3x3_flat.c) and with the vector library
 * (filter3x3_vec.cpp). The filter is the Sobel gradient magnitude
 *
 *     out = min(255, |Gx| + |Gy|)
 *
 *     Gx = (p[r-1][c+1] + 2 p[r][c+1] + p[r+1][c+1]) - (p[r-1][c-1] + 2 p[r][c-1] + p[r+1][c-1])
 *     Gy = (p[r+1][c-1] + 2 p[r+1][c] + p[r+1][c+1]) - (p[r-1][c-1] + 2 p[r-1][c] + p[r-1][c+1])
 *
 * for every interior pixel (1 <= r <= height - 2, 1 <= c <= width - 2);
 * the border of out is not written. C11 and C++17. */
#ifndef FILTER3X3_H
#define FILTER3X3_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Output pixels per tile (edge tiles are smaller), and the row pitches, in
 * elements, of the tile buffers on the scratchpad: the input tile and the
 * vertical sums have two columns more than the output. */
enum {
    FILTER3X3_TILE_W = 128,
    FILTER3X3_TILE_H = 32,
    FILTER3X3_IN_PITCH = FILTER3X3_TILE_W + 2, /* bytes */
    FILTER3X3_V_PITCH = FILTER3X3_TILE_W + 2,  /* half-words */
    FILTER3X3_H_PITCH = FILTER3X3_TILE_W,      /* half-words */
    FILTER3X3_OUT_PITCH = FILTER3X3_TILE_W     /* bytes */
};

/* The tiles cover the interior, (width - 2) x (height - 2) output pixels,
 * row by row. Tile t's first output pixel is image pixel (r0 + 1, c0 + 1);
 * it has tw x th output pixels and reads image rows r0 .. r0 + th + 1,
 * columns c0 .. c0 + tw + 1. */
typedef struct filter3x3_tile {
    int c0, r0, tw, th;
} filter3x3_tile;

static inline int filter3x3_tile_count(int width, int height)
{
    return (width - 2 + FILTER3X3_TILE_W - 1) / FILTER3X3_TILE_W *
           ((height - 2 + FILTER3X3_TILE_H - 1) / FILTER3X3_TILE_H);
}

static inline filter3x3_tile filter3x3_tile_at(int t, int width, int height)
{
    const int ow = width - 2, oh = height - 2, across = (ow + FILTER3X3_TILE_W - 1) / FILTER3X3_TILE_W;
    filter3x3_tile g;
    g.c0 = t % across * FILTER3X3_TILE_W;
    g.r0 = t / across * FILTER3X3_TILE_H;
    g.tw = ow - g.c0 < FILTER3X3_TILE_W ? ow - g.c0 : FILTER3X3_TILE_W;
    g.th = oh - g.r0 < FILTER3X3_TILE_H ? oh - g.r0 : FILTER3X3_TILE_H;
    return g;
}

/* The whole image: img and out are host images of width x height bytes,
 * rows packed. Tiles are moved by DMA, the next tile's input requested
 * before the current tile is computed. Returns 0, or -1 (and does nothing)
 * when the image is smaller than 3 x 3 or the scratchpad lacks room. */
int filter3x3_flat(const uint8_t *img, uint8_t *out, int width, int height);
int filter3x3_vec(const uint8_t *img, uint8_t *out, int width, int height);

/* One tile on the scratchpad: tw x th output pixels (tw <= FILTER3X3_TILE_W,
 * th <= FILTER3X3_TILE_H) into out, from the (th + 2) x (tw + 2) input
 * pixels at in, with the pitches above. v (th rows) and h (th + 2 rows)
 * receive the vertical and horizontal 1-2-1 sums; the temporaries (two
 * tiles of half-words) are allocated for the call and given back. Nine 2D instructions. */
void filter3x3_tile_flat(uint8_t *out, const uint8_t *in, uint16_t *v, uint16_t *h, int tw, int th);
void filter3x3_tile_vec(uint8_t *out, const uint8_t *in, uint16_t *v, uint16_t *h, int tw, int th);

#ifdef __cplusplus
}
#endif

#endif /* FILTER3X3_H */
