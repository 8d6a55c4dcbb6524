/* The 3x3 Sobel filter on the flat interface (see filter3x3.h and
 * docs/kernels/filter3x3.md).
 *
 * The Sobel kernels are separable: with the vertical sums
 * V[c] = p[r-1][c] + 2 p[r][c] + p[r+1][c] and the horizontal sums
 * H[r] = p[r][c-1] + 2 p[r][c] + p[r][c+1], Gx = V[c+1] - V[c-1] and
 * Gy = H[r+1] - H[r-1]. Sums of up to 1020 need 16 bits: the byte pixels
 * are read by VVBHU instructions, which widen their sources and compute in
 * half-words, and the last instruction, a VADDFXP narrowing half-words to
 * bytes, clamps |Gx| + |Gy| to 255 as it stores.
 *
 * Scratchpad layout (pitches in filter3x3.h):
 *
 *     in[0], in[1]    (TILE_H + 2) x (TILE_W + 2) bytes: input tiles
 *     v               TILE_H x (TILE_W + 2) half-words: vertical sums
 *     h               (TILE_H + 2) x TILE_W half-words: horizontal sums
 *     out[0], out[1]  TILE_H x TILE_W bytes: output tiles
 *     (free end)      two dense tiles of half-words: 2 * mid, |Gy|, |Gx|
 *
 * Tiles go row by row over the interior. Tile t is read from in[t % 2]
 * and written to out[t % 2]; the rows of tile t + 1 are requested into the
 * other input buffer before tile t is computed. */
#include "filter3x3.h"

#include "kernel_common.h"
#include "kmr_api.h"

enum {
    IN_BYTES = (FILTER3X3_TILE_H + 2) * FILTER3X3_IN_PITCH,
    V_BYTES = FILTER3X3_TILE_H * FILTER3X3_V_PITCH * 2,
    H_BYTES = (FILTER3X3_TILE_H + 2) * FILTER3X3_H_PITCH * 2,
    OUT_BYTES = FILTER3X3_TILE_H * FILTER3X3_OUT_PITCH,
    TEMP_BYTES = 2 * FILTER3X3_TILE_H * FILTER3X3_TILE_W * 2
};

void filter3x3_tile_flat(uint8_t *out, const uint8_t *in, uint16_t *v, uint16_t *h, int tw, int th)
{
    uint8_t *const src = (uint8_t *)in; /* the typed calls take non-const operands */
    kmr_sp_push(); /* the temporaries are allocated for this tile only */
    uint16_t *const tmp = (uint16_t *)kmr_sp_malloc_nodebug(TEMP_BYTES);
    const int ip = FILTER3X3_IN_PITCH, vp = 2 * FILTER3X3_V_PITCH, hp = 2 * FILTER3X3_H_PITCH; /* bytes */

    /* V = up + down + 2 mid over tw + 2 columns and th rows; 2 mid goes to a
       dense temporary first. */
    kernel_set_vl(tw + 2);
    kernel_set_2d(th, vp, ip, ip);
    kmr_2D_VVBHU(VADD, v, src, src + 2 * ip);
    kernel_set_2d(th, 2 * (tw + 2), ip, ip);
    kmr_2D_VVBHU(VADD, tmp, src + ip, src + ip);
    kernel_set_2d(th, vp, vp, 2 * (tw + 2));
    kmr_2D_VVHHU(VADD, v, v, tmp);

    /* H = left + right + 2 centre over tw columns and th + 2 rows. */
    kernel_set_vl(tw);
    kernel_set_2d(th + 2, hp, ip, ip);
    kmr_2D_VVBHU(VADD, h, src, src + 2);
    kernel_set_2d(th + 2, 2 * tw, ip, ip);
    kmr_2D_VVBHU(VADD, tmp, src + 1, src + 1);
    kernel_set_2d(th + 2, hp, hp, 2 * tw);
    kmr_2D_VVHHU(VADD, h, h, tmp);

    /* |Gy| and |Gx| into two dense temporaries, then their sum, saturated
       to 255 as it is narrowed to bytes. */
    uint16_t *const gy = tmp;
    uint16_t *const gx = tmp + kernel_sp_bytes((size_t)(2 * tw * th)) / 2;
    kernel_set_2d(th, 2 * tw, hp, hp);
    kmr_2D_VVHHU(VABSDIFF, gy, h + 2 * FILTER3X3_H_PITCH, h);
    kernel_set_2d(th, 2 * tw, vp, vp);
    kmr_2D_VVHHU(VABSDIFF, gx, v + 2, v);
    kernel_set_2d(th, FILTER3X3_OUT_PITCH, 2 * tw, 2 * tw);
    kmr_2D_VVHBU(VADDFXP, out, gx, gy);
    kmr_sp_pop();
}

/* Requests the (th + 2) x (tw + 2) input pixels of a tile, one request per
   row: image rows r0 .. r0 + th + 1, columns c0 .. c0 + tw + 1. */
static void request_input(uint8_t *in, const uint8_t *img, int width, filter3x3_tile g)
{
    for (int r = 0; r < g.th + 2; ++r)
        sim_dma_to_vector(in + r * FILTER3X3_IN_PITCH, img + (g.r0 + r) * width + g.c0, (size_t)g.tw + 2);
}

int filter3x3_flat(const uint8_t *img, uint8_t *out, int width, int height)
{
    if (width < 3 || height < 3)
        return -1;
    if ((size_t)kmr_sp_getfree() < 2 * kernel_sp_bytes(IN_BYTES) + kernel_sp_bytes(V_BYTES) + kernel_sp_bytes(H_BYTES) +
                                       2 * kernel_sp_bytes(OUT_BYTES) + TEMP_BYTES)
        return -1;
    kmr_sp_push();
    uint8_t *in[2], *obuf[2];
    in[0] = (uint8_t *)kmr_sp_malloc_nodebug(IN_BYTES);
    in[1] = (uint8_t *)kmr_sp_malloc_nodebug(IN_BYTES);
    uint16_t *const v = (uint16_t *)kmr_sp_malloc_nodebug(V_BYTES);
    uint16_t *const h = (uint16_t *)kmr_sp_malloc_nodebug(H_BYTES);
    obuf[0] = (uint8_t *)kmr_sp_malloc_nodebug(OUT_BYTES);
    obuf[1] = (uint8_t *)kmr_sp_malloc_nodebug(OUT_BYTES);

    const int tiles = filter3x3_tile_count(width, height);
    request_input(in[0], img, width, filter3x3_tile_at(0, width, height));
    for (int t = 0; t < tiles; ++t) {
        if (t + 1 < tiles)
            request_input(in[(t + 1) % 2], img, width, filter3x3_tile_at(t + 1, width, height));
        const filter3x3_tile g = filter3x3_tile_at(t, width, height);
        filter3x3_tile_flat(obuf[t % 2], in[t % 2], v, h, g.tw, g.th);
        for (int r = 0; r < g.th; ++r)
            sim_dma_to_host(out + (g.r0 + 1 + r) * width + g.c0 + 1, obuf[t % 2] + r * FILTER3X3_OUT_PITCH,
                            (size_t)g.tw);
    }
    kmr_sync();
    kmr_sp_pop();
    return 0;
}
