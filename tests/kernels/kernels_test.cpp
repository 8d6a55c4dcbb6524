// The worked kernels (examples/kernels) against their scalar references, on
// the sizes and values the example programs do not reach: partial blocks,
// tiles and strips, the smallest inputs, saturation and extreme samples.
// The flat and library versions must give the same results and the same
// statistics (threshold: one VMOV apart, by design), leave the scratchpad
// allocation as they found it, give the same results when DMA is performed
// at once, and refuse, untouched, what they cannot do.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "filter3x3.h"
#include "filter3x3_ref.h"
#include "fir.h"
#include "fir_ref.h"
#include "kmr_api.h"
#include "matmul.h"
#include "matmul_ref.h"
#include "threshold.h"
#include "threshold_ref.h"

namespace {

void init(int kb = 64, int mask_depth = 256, unsigned half_frac = 15)
{
    kmrsim_init(4, kb, mask_depth, 16, half_frac, 4);
    kmrsim_reset_stats();
}

class Kernels : public testing::Test {
protected:
    void SetUp() override { init(); }
};

// One kernel call from fresh statistics and zeroed instruction registers
// (the kernels make a setting only when a register holds another value, so
// two calls compare only from the same registers): its status and
// statistics. The scratchpad allocation must be where it was.
struct call_result {
    int status;
    kmrsim_stats_t stats;
};

call_result call(const std::function<int()> &kernel)
{
    for (uint32_t reg = 0; reg < KMRSIM_NUM_REGS; ++reg)
        KMR_SET(reg, 0);
    kmrsim_reset_stats();
    const int used = kmr_sp_getused();
    call_result r;
    r.status = kernel();
    r.stats = kmrsim_get_stats();
    EXPECT_EQ(kmr_sp_getused(), used) << "the kernel left scratchpad allocated";
    return r;
}

// The first field in which two statistics records differ, or "".
std::string stats_difference(const kmrsim_stats_t &a, const kmrsim_stats_t &b)
{
    for (int op = 0; op < KMRSIM_NUM_OPCODES; ++op) {
        const std::string name = kmrsim_opcode_name(op);
        if (a.instruction_count[op] != b.instruction_count[op])
            return name + " count " + std::to_string(a.instruction_count[op]) + " vs " +
                   std::to_string(b.instruction_count[op]);
        for (int k = 0; k < KMRSIM_NUM_CONFIGS; ++k)
            if (a.cycle_count[op][k] != b.cycle_count[op][k])
                return name + " cycles on " + std::to_string(1 << k) + " lanes";
    }
    if (a.set_vl_count != b.set_vl_count || a.set_2D_count != b.set_2D_count || a.set_3D_count != b.set_3D_count)
        return "register settings";
    if (a.dma_calls != b.dma_calls || a.dma_bytes != b.dma_bytes ||
        std::memcmp(a.dma_cycles, b.dma_cycles, sizeof a.dma_cycles) != 0)
        return "DMA";
    return "";
}

// Random values in lo .. hi, the extremes first.
template <typename T>
std::vector<T> random_values(size_t n, int lo, int hi, std::mt19937 &rng)
{
    std::uniform_int_distribution<int> any(lo, hi);
    std::vector<T> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<T>(i == 0 ? lo : i == 1 ? hi : any(rng));
    return v;
}

// ---------------------------------------------------------------------------

TEST_F(Kernels, FirMatchesTheReferenceAcrossBlocksAndInSaturation)
{
    std::mt19937 rng(11);
    const struct {
        int n, taps;
    } cases[] = {{0, 4}, {1, 1}, {1, 16}, {15, 16}, {1024, 2}, {1025, 33}, {2 * FIR_BLOCK + 7, 16}, {3000, 64}};
    for (const auto &c : cases) {
        SCOPED_TRACE("n " + std::to_string(c.n) + ", taps " + std::to_string(c.taps));
        const std::vector<int16_t> x = random_values<int16_t>(size_t(c.n), -32768, 32767, rng);
        const std::vector<int16_t> h = random_values<int16_t>(size_t(c.taps), -32768, 32767, rng);
        std::vector<int16_t> want(x.size()), flat(x.size(), 0x5555), vec(x.size(), 0x5555);
        fir_ref(x.data(), want.data(), c.n, h.data(), c.taps);
        const call_result f = call([&] { return fir_flat(x.data(), flat.data(), c.n, h.data(), c.taps); });
        const call_result v = call([&] { return fir_vec(x.data(), vec.data(), c.n, h.data(), c.taps); });
        EXPECT_EQ(f.status, 0);
        EXPECT_EQ(v.status, 0);
        EXPECT_EQ(flat, want);
        EXPECT_EQ(vec, want);
        EXPECT_EQ(stats_difference(f.stats, v.stats), "");
        EXPECT_EQ(f.stats.instruction_count[VMULFXP], uint32_t((c.n + FIR_BLOCK - 1) / FIR_BLOCK * c.taps));
    }
}

TEST_F(Kernels, Filter3x3MatchesTheReferenceOnEdgeTilesAndLeavesTheBorder)
{
    std::mt19937 rng(12);
    const struct {
        int w, h;
    } sizes[] = {{3, 3}, {4, 5}, {130, 34}, {131, 35}, {259, 67}, {200, 40}};
    for (const auto &s : sizes) {
        SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
        const size_t n = size_t(s.w * s.h);
        std::vector<uint8_t> img = random_values<uint8_t>(n, 0, 255, rng);
        for (size_t i = 0; i < n / 4; ++i)
            img[i] = (i / size_t(s.w)) % 2 ? 255 : 0;  // stripes: gradients far above 255
        std::vector<uint8_t> want(n, 0xA5), flat(n, 0xA5), vec(n, 0xA5);
        filter3x3_ref(img.data(), want.data(), s.w, s.h);
        const call_result f = call([&] { return filter3x3_flat(img.data(), flat.data(), s.w, s.h); });
        const call_result v = call([&] { return filter3x3_vec(img.data(), vec.data(), s.w, s.h); });
        EXPECT_EQ(f.status, 0);
        EXPECT_EQ(v.status, 0);
        EXPECT_EQ(flat, want);
        EXPECT_EQ(vec, want);
        EXPECT_EQ(stats_difference(f.stats, v.stats), "");
        EXPECT_EQ(f.stats.instruction_count[VADDFXP], uint32_t(filter3x3_tile_count(s.w, s.h)));
    }
}

TEST_F(Kernels, MatmulMatchesTheReferenceAndSaturatesToThirtyTwoBits)
{
    std::mt19937 rng(13);
    for (int n : {1, 2, 17, 64, 80}) {
        SCOPED_TRACE("n " + std::to_string(n));
        const size_t nn = size_t(n * n);
        std::vector<int16_t> a = random_values<int16_t>(nn, -32768, 32767, rng);
        std::vector<int16_t> b = random_values<int16_t>(nn, -32768, 32767, rng);
        if (n == 64) {
            // Row 0 of a times column 0 of b: 64 x 2^30 does not fit; row 1: -64 x (2^30 - 2^15).
            for (int k = 0; k < n; ++k) {
                a[size_t(k)] = -32768, b[size_t(k * n)] = -32768;
                a[size_t(n + k)] = 32767;
            }
        }
        std::vector<int32_t> want(nn), flat(nn), vec(nn);
        matmul_ref(a.data(), b.data(), want.data(), n);
        const call_result f = call([&] { return matmul_flat(a.data(), b.data(), flat.data(), n); });
        const call_result v = call([&] { return matmul_vec(a.data(), b.data(), vec.data(), n); });
        EXPECT_EQ(f.status, 0);
        EXPECT_EQ(v.status, 0);
        EXPECT_EQ(flat, want);
        EXPECT_EQ(vec, want);
        EXPECT_EQ(stats_difference(f.stats, v.stats), "");
        if (n == 64) {
            EXPECT_EQ(flat[0], INT32_MAX);
            EXPECT_EQ(flat[size_t(n)], INT32_MIN);
        }
    }
}

TEST_F(Kernels, ThresholdMatchesTheReferenceWithTheSameInstructionsBothWays)
{
    std::mt19937 rng(14);
    const threshold_params params[] = {
        {-24576, 24576, 512}, {0, 0, 0}, {-32768, 32767, 65535}, {100, 200, 150}, {-5, 5, 32768}};
    for (int n : {0, 1, 1023, 1024, 1025, 3000}) {
        for (const threshold_params &p : params) {
            SCOPED_TRACE("n " + std::to_string(n) + ", lo " + std::to_string(p.lo) + ", hi " + std::to_string(p.hi) +
                         ", gate " + std::to_string(p.gate));
            std::vector<int16_t> x = random_values<int16_t>(size_t(n), -32768, 32767, rng);
            for (size_t i = 2; i < x.size(); i += 3)
                x[i] = static_cast<int16_t>(x[i] / 64);  // plenty of small samples
            std::vector<int16_t> want(x.size()), flat(x.size(), 0x5555), vec(x.size(), 0x5555);
            threshold_counts want_counts, flat_counts = {-1, -1}, vec_counts = {-1, -1};
            threshold_ref(x.data(), want.data(), n, p, &want_counts);
            const call_result f = call([&] { return threshold_flat(x.data(), flat.data(), n, p, &flat_counts); });
            const call_result v = call([&] { return threshold_vec(x.data(), vec.data(), n, p, &vec_counts); });
            EXPECT_EQ(f.status, 0);
            EXPECT_EQ(v.status, 0);
            EXPECT_EQ(flat, want);
            EXPECT_EQ(vec, want);
            EXPECT_EQ(flat_counts.clipped, want_counts.clipped);
            EXPECT_EQ(flat_counts.gated, want_counts.gated);
            EXPECT_EQ(vec_counts.clipped, want_counts.clipped);
            EXPECT_EQ(vec_counts.gated, want_counts.gated);

            const kmrsim_stats_t expected = f.stats;
            EXPECT_EQ(stats_difference(expected, v.stats), "");
        }
    }
}

TEST_F(Kernels, ResultsDoNotDependOnWhenDmaIsPerformed)
{
    // With DMA performed at once, a kernel that read a host buffer before
    // its transfer, or reused a scratchpad buffer too early, would differ.
    kmrsim_set_dma_type(1);
    std::vector<int16_t> x(2500), y(x.size()), want(x.size());
    fir_make_signal(x.data(), int(x.size()));
    fir_ref(x.data(), want.data(), int(x.size()), fir_taps, FIR_TAPS);
    for (auto fir : {fir_flat, fir_vec}) {
        EXPECT_EQ(fir(x.data(), y.data(), int(x.size()), fir_taps, FIR_TAPS), 0);
        EXPECT_EQ(y, want);
    }

    const int w = 300, h = 80;
    std::vector<uint8_t> img(size_t(w * h)), out(img.size()), want_img(img.size());
    filter3x3_make_image(img.data(), w, h);
    filter3x3_ref(img.data(), want_img.data(), w, h);
    for (auto filter : {filter3x3_flat, filter3x3_vec}) {
        EXPECT_EQ(filter(img.data(), out.data(), w, h), 0);
        EXPECT_EQ(out, want_img);
    }

    const int n = 24;
    std::vector<int16_t> a(size_t(n * n)), b(a.size());
    std::vector<int32_t> c(a.size()), want_c(a.size());
    matmul_make_matrix(a.data(), n, -1024, 1023, 1);
    matmul_make_matrix(b.data(), n, -1024, 1023, 2);
    matmul_ref(a.data(), b.data(), want_c.data(), n);
    for (auto matmul : {matmul_flat, matmul_vec}) {
        EXPECT_EQ(matmul(a.data(), b.data(), c.data(), n), 0);
        EXPECT_EQ(c, want_c);
    }

    threshold_make_signal(x.data(), int(x.size()));
    const threshold_params p = {-24576, 24576, 512};
    threshold_counts counts, want_counts;
    threshold_ref(x.data(), want.data(), int(x.size()), p, &want_counts);
    for (auto threshold : {threshold_flat, threshold_vec}) {
        EXPECT_EQ(threshold(x.data(), y.data(), int(x.size()), p, &counts), 0);
        EXPECT_EQ(y, want);
        EXPECT_EQ(counts.clipped, want_counts.clipped);
        EXPECT_EQ(counts.gated, want_counts.gated);
    }
}

TEST_F(Kernels, KernelsRefuseWhatTheyCannotDoAndTouchNothing)
{
    std::vector<int16_t> x(4096, 100), y(x.size(), 7);
    std::vector<uint8_t> img(640 * 480, 9), out(img.size(), 7);
    std::vector<int16_t> m(81 * 81, 3);
    std::vector<int32_t> c(81 * 81, 7);
    threshold_counts counts = {7, 7};
    const threshold_params p = {-10, 10, 5};

    // Each case: the simulator it runs on, then the calls that must refuse.
    auto refused = [&](const char *what, const std::function<int()> &kernel) {
        SCOPED_TRACE(what);
        const call_result r = call(kernel);
        EXPECT_EQ(r.status, -1);
        EXPECT_EQ(stats_difference(r.stats, kmrsim_stats_t{}), "");
    };
    init(64, 256, 5);  // half-words are not Q15
    refused("fir, Q5", [&] { return fir_flat(x.data(), y.data(), 100, fir_taps, FIR_TAPS); });
    refused("fir_vec, Q5", [&] { return fir_vec(x.data(), y.data(), 100, fir_taps, FIR_TAPS); });
    init();
    refused("fir, no taps", [&] { return fir_flat(x.data(), y.data(), 100, fir_taps, 0); });
    refused("fir_vec, no taps", [&] { return fir_vec(x.data(), y.data(), 100, fir_taps, 0); });
    refused("filter3x3, 2 wide", [&] { return filter3x3_flat(img.data(), out.data(), 2, 10); });
    refused("filter3x3_vec, 2 high", [&] { return filter3x3_vec(img.data(), out.data(), 10, 2); });
    refused("matmul, n 0", [&] { return matmul_flat(m.data(), m.data(), c.data(), 0); });
    refused("matmul_vec, n 81", [&] { return matmul_vec(m.data(), m.data(), c.data(), 81); });  // 80 just fits
    refused("matmul, n 81", [&] { return matmul_flat(m.data(), m.data(), c.data(), 81); });
    const threshold_params inverted = {10, -10, 5};
    refused("threshold, lo > hi", [&] { return threshold_flat(x.data(), y.data(), 100, inverted, &counts); });
    refused("threshold_vec, lo > hi", [&] { return threshold_vec(x.data(), y.data(), 100, inverted, &counts); });
    init(64, 128);  // 512 mask positions: less than a strip
    refused("threshold, small mask", [&] { return threshold_flat(x.data(), y.data(), 100, p, &counts); });
    refused("threshold_vec, small mask", [&] { return threshold_vec(x.data(), y.data(), 100, p, &counts); });
    init(16);  // 16 KB: too small for the tiles and the 4096 samples
    refused("filter3x3, 16 KB", [&] { return filter3x3_flat(img.data(), out.data(), 640, 480); });
    refused("filter3x3_vec, 16 KB", [&] { return filter3x3_vec(img.data(), out.data(), 640, 480); });
    refused("threshold, 16 KB", [&] { return threshold_flat(x.data(), y.data(), 4096, p, &counts); });
    refused("threshold_vec, 16 KB", [&] { return threshold_vec(x.data(), y.data(), 4096, p, &counts); });
    init(4);  // 4 KB: too small for FIR buffers
    refused("fir, 4 KB", [&] { return fir_flat(x.data(), y.data(), 100, fir_taps, FIR_TAPS); });
    refused("fir_vec, 4 KB", [&] { return fir_vec(x.data(), y.data(), 100, fir_taps, FIR_TAPS); });

    EXPECT_EQ(y, std::vector<int16_t>(y.size(), 7));
    EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 7));
    EXPECT_EQ(c, std::vector<int32_t>(c.size(), 7));
    EXPECT_EQ(counts.clipped, 7);
}

}  // namespace
