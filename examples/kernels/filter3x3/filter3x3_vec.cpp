// The 3x3 Sobel filter with the vector library (see filter3x3.h and
// docs/kernels/filter3x3.md). The layout, the DMA schedule and the nine
// instructions per tile are those of filter3x3_flat.c; here the 2D
// instructions are assignments to 2D views, whose row strides are the
// pitches of the tile buffers. 2 * mid and 2 * centre are short-lived
// vectors and |Gy| and |Gx| the library's temporaries, all at the free end
// of the scratchpad, where the flat version puts them too.
#include "filter3x3.h"

#include "Vector.hpp"
#include "kernel_common.h"

using namespace KMR;

namespace {

using Bytes = Vector<uint8_t, 2>;
using Halves = Vector<uint16_t, 2>;

enum {
    IN_BYTES = (FILTER3X3_TILE_H + 2) * FILTER3X3_IN_PITCH,
    OUT_BYTES = FILTER3X3_TILE_H * FILTER3X3_OUT_PITCH,
    TEMP_BYTES = 2 * FILTER3X3_TILE_H * FILTER3X3_TILE_W * 2
};

// A view of rows x cols elements at p, rows pitch elements apart.
template <typename T>
Vector<T, 2> view(T *p, int cols, int rows, int pitch)
{
    return Vector<T, 2>(p, cols, size_t(rows), pitch);
}

}  // namespace

extern "C" void filter3x3_tile_vec(uint8_t *out, const uint8_t *in, uint16_t *v, uint16_t *h, int tw, int th)
{
    uint8_t *const src = const_cast<uint8_t *>(in);  // views hold non-const pointers; sources are only read
    const int ip = FILTER3X3_IN_PITCH, vp = FILTER3X3_V_PITCH, hp = FILTER3X3_H_PITCH;

    // Vertical 1-2-1 sums: byte rows widened to half-words by the
    // instructions. 2 * mid needs a half-word vector of its own: a temporary
    // of a nested expression would have the width of the bytes it adds.
    const Bytes up = view(src, tw + 2, th, ip), mid = view(src + ip, tw + 2, th, ip),
                down = view(src + 2 * ip, tw + 2, th, ip);
    Halves vsum = view(v, tw + 2, th, vp);
    vsum = up + down;
    {
        Halves twice(tw + 2, th, tw + 2);  // at the free end, released at the brace
        twice = mid + mid;
        vsum = vsum + twice;
    }

    // Horizontal 1-2-1 sums.
    const Bytes left = view(src, tw, th + 2, ip), centre = view(src + 1, tw, th + 2, ip),
                right = view(src + 2, tw, th + 2, ip);
    Halves hsum = view(h, tw, th + 2, hp);
    hsum = left + right;
    {
        Halves twice(tw, th + 2, tw);
        twice = centre + centre;
        hsum = hsum + twice;
    }

    // |Gx| + |Gy|, clamped to 255 by the saturating add as it narrows to bytes.
    const Halves v_left = view(v, tw, th, vp), v_right = view(v + 2, tw, th, vp);
    const Halves h_up = view(h, tw, th, hp), h_down = view(h + 2 * hp, tw, th, hp);
    Bytes o = view(out, tw, th, FILTER3X3_OUT_PITCH);
    o = vaddfxp(vabsdiff(v_right, v_left), vabsdiff(h_down, h_up));
}

extern "C" int filter3x3_vec(const uint8_t *img, uint8_t *out, int width, int height)
{
    if (width < 3 || height < 3)
        return -1;
    const size_t v_bytes = FILTER3X3_TILE_H * FILTER3X3_V_PITCH * 2,
                 h_bytes = (FILTER3X3_TILE_H + 2) * FILTER3X3_H_PITCH * 2;
    if (size_t(kmr_sp_getfree()) < 2 * kernel_sp_bytes(IN_BYTES) + kernel_sp_bytes(v_bytes) + kernel_sp_bytes(h_bytes) +
                                       2 * kernel_sp_bytes(OUT_BYTES) + TEMP_BYTES)
        return -1;  // a vector that does not fit would stop the program

    Vector<uint8_t> in0(IN_BYTES), in1(IN_BYTES);
    Vector<uint16_t> v(FILTER3X3_TILE_H * FILTER3X3_V_PITCH), h((FILTER3X3_TILE_H + 2) * FILTER3X3_H_PITCH);
    Vector<uint8_t> out0(OUT_BYTES), out1(OUT_BYTES);
    uint8_t *const in[2] = {in0.data, in1.data}, *const obuf[2] = {out0.data, out1.data};

    // One request per input row, and per output row.
    auto request_input = [&](uint8_t *buf, const filter3x3_tile &g) {
        for (int r = 0; r < g.th + 2; ++r)
            Vector<uint8_t>(buf + r * FILTER3X3_IN_PITCH, g.tw + 2).dma_read(img + (g.r0 + r) * width + g.c0, g.tw + 2);
    };
    const int tiles = filter3x3_tile_count(width, height);
    request_input(in[0], filter3x3_tile_at(0, width, height));
    for (int t = 0; t < tiles; ++t) {
        if (t + 1 < tiles)
            request_input(in[(t + 1) % 2], filter3x3_tile_at(t + 1, width, height));
        const filter3x3_tile g = filter3x3_tile_at(t, width, height);
        filter3x3_tile_vec(obuf[t % 2], in[t % 2], v.data, h.data, g.tw, g.th);
        for (int r = 0; r < g.th; ++r)
            Vector<uint8_t>(obuf[t % 2] + r * FILTER3X3_OUT_PITCH, g.tw)
                .dma_write(out + (g.r0 + 1 + r) * width + g.c0 + 1, g.tw);
    }
    kmr_sync();
    return 0;
}
