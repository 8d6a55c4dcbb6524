// Two kernels written with the vector library and with the flat interface
// (typed calls): a Q15 FIR filter and a 3x3 sharpening filter on an 8-bit
// image with the result clamped to 0..255. Both ways must leave the same
// scratchpad, flag memory and statistics, and match a scalar reference. The
// FIR filter is the worked kernel's block (examples/kernels/fir), run here
// on scratchpad data with random flags.
#include <algorithm>

#include "fir.h"
#include "fir_ref.h"
#include "vector_lib_fixture.hpp"

using namespace KMR;
using namespace vlt;
using V = std::vector<long long>;

namespace {

class VectorKernels : public LibTest {
protected:
    void SetUp() override
    {
        LibTest::SetUp();
        kmrsim_init(4, 64, 256, 16, 15, 4);  // Q15 half words
        kmrsim_reset_stats();
    }
};

TEST_F(VectorKernels, FirFilterInQ15)
{
    const int n = 32, taps = 5;
    const int16_t h[taps] = {4096, -8192, 16384, 32767, -32768};
    Vector<int16_t> x(n + taps - 1), y(n);
    std::mt19937 rng(21);
    randomize(x, n + taps - 1, rng);

    // The first output's newest sample is x[taps - 1]; the samples before
    // it are its history. The products go to the free end of the
    // scratchpad in both versions. Both set the vector length only when it
    // changes, so both start from a length of 0 (KMR_SET is not counted).
    int16_t *const newest = x.data + taps - 1;
    expect_same(
        [&] {
            KMR_SET(REG_VL, 0);
            fir_block_vec(y.data, newest, n, h, taps);
        },
        [&] {
            KMR_SET(REG_VL, 0);
            fir_block_flat(y.data, newest, n, h, taps);
        });

    // The reference over the whole of x: its outputs from taps - 1 on use
    // no sample before x[0].
    const V xv = values(x);
    std::vector<int16_t> xs(xv.begin(), xv.end()), want(xs.size());
    fir_ref(xs.data(), want.data(), n + taps - 1, h, taps);
    const V yv = values(y);
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(yv[size_t(i)], want[size_t(i + taps - 1)]) << "output " << i;
    EXPECT_EQ(kmrsim_get_stats().instruction_count[VMULFXP], uint32_t(taps));
}

TEST_F(VectorKernels, SharpeningFilterWithAnUnsignedClamp)
{
    const int w = 12, h = 7, ow = w - 2, oh = h - 2;
    Vector<uint8_t, 2> img(w, h, w), out(ow, oh, ow);
    Vector<int16_t, 2> wide(w, h, w), acc(ow, oh, ow);
    std::mt19937 rng(4);
    randomize(img.to1D(w * h), size_t(w * h), rng);
    // Views of the 3x3 neighbourhood of each interior pixel.
    const Vector<int16_t, 2> c(wide.data + w + 1, ow, oh, w), north(wide.data + 1, ow, oh, w),
        south(wide.data + 2 * w + 1, ow, oh, w), west(wide.data + w, ow, oh, w), east(wide.data + w + 2, ow, oh, w);

    auto library = [&] {
        wide = img;  // zero-extending widening copy
        acc = c * 5 - north - south - west - east;
        acc = select(acc < 0, 0, acc);
        acc = select(acc > 255, 255, acc);
        out = acc;
    };
    auto flat_interface = [&] {
        const uint32_t row = 2 * ow;  // bytes per row of acc and of the temporaries
        const size_t pad = size_t(row * oh + 15) / 16 * 16;
        int16_t *const t1 = static_cast<int16_t *>(kmr_sp_get());
        int16_t *const t2 = t1 + pad / 2, *const t3 = t2 + pad / 2, *const t4 = t3 + pad / 2;
        kmr_set_vl(w);
        KMR_SET_VL(KMR_SEL_COUNT, h, 2 * w);
        KMR_SET_VL(KMR_SEL_STRIDES, w, 0);
        kmr_2D_VVBHU(VMOV, reinterpret_cast<uint16_t *>(wide.data), img.data, nullptr);
        kmr_set_vl(ow);
        KMR_SET_VL(KMR_SEL_COUNT, oh, row);
        KMR_SET_VL(KMR_SEL_STRIDES, 0, 2 * w);
        kmr_2D_SVHHS(VMUL, t4, 5, c.data);
        KMR_SET_VL(KMR_SEL_STRIDES, row, 2 * w);
        kmr_2D_VVHHS(VSUB, t3, t4, north.data);
        kmr_2D_VVHHS(VSUB, t2, t3, south.data);
        kmr_2D_VVHHS(VSUB, t1, t2, west.data);
        kmr_2D_VVHHS(VSUB, acc.data, t1, east.data);
        // acc < 0 is 0 - acc > 0; acc > 255 is 255 - acc < 0.
        KMR_SET_VL(KMR_SEL_STRIDES, 0, row);
        kmr_2D_SVHHS(VSUB, t1, 0, acc.data);
        kmr_2D_SVHHS(VCMV_GTZ, acc.data, 0, t1);
        kmr_2D_SVHHS(VSUB, t1, 255, acc.data);
        kmr_2D_SVHHS(VCMV_LTZ, acc.data, 255, t1);
        KMR_SET_VL(KMR_SEL_COUNT, oh, ow);
        KMR_SET_VL(KMR_SEL_STRIDES, row, 0);
        kmr_2D_VVHBS(VMOV, reinterpret_cast<int8_t *>(out.data), acc.data, nullptr);
    };
    expect_same(library, flat_interface);

    const V in = values(img.to1D(w * h)), result = values(out.to1D(ow * oh));
    for (int r = 0; r < oh; ++r) {
        for (int col = 0; col < ow; ++col) {
            auto px = [&](int dr, int dc) { return in[size_t((r + 1 + dr) * w + col + 1 + dc)]; };
            const long long v = 5 * px(0, 0) - px(-1, 0) - px(1, 0) - px(0, -1) - px(0, 1);
            EXPECT_EQ(result[size_t(r * ow + col)], std::min(255LL, std::max(0LL, v))) << r << "," << col;
        }
    }
}

}  // namespace
