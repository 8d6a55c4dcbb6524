// The instruction engine end to end: what overlapping operands see through
// the write-back pipeline (within a row and across rows), lane-group valid
// counts, the enumeration, conditional moves, flags, cycle accounting, empty
// instructions, refused opcodes and scalar conversion. Random overlapping
// instructions are checked against the reference model in sim_fixture.hpp.
#include <array>
#include <climits>
#include <cstdint>
#include <random>

#include "sim_fixture.hpp"

using namespace simtest;

namespace {

class Engine : public SimTest {};
class EnginePaths : public BothPaths {};

int32_t *words(size_t off)
{
    return reinterpret_cast<int32_t *>(sp(off));
}

void fill_words(int32_t *v, int n, int32_t first)
{
    for (int i = 0; i < n; ++i)
        v[i] = first + i;
}

}  // namespace

// ---------------------------------------------------------------------------
// Overlap within one row: a move k lane groups ahead (G = 4 words) reads
// only old values for k <= 3, and for k >= 4 picks up its own results, so the
// first k groups repeat along the vector.
TEST_P(EnginePaths, MoveAheadShowsOldValuesUpToThreeGroupsAndRepeatsFromFour)
{
    constexpr int G = 4, L = 40;
    for (int k = 0; k <= 6; ++k) {
        int32_t *v = words(4096);
        fill_words(v, L + k * G + 8, 1000);
        set_vl(L);
        kmrsim_1D_VVWWS(V_VVWWS, VMOV, v + k * G, v, nullptr);
        for (int i = 0; i < k * G; ++i)
            EXPECT_EQ(v[i], 1000 + i) << "k=" << k << " source head changed at " << i;
        for (int i = 0; i < L; ++i) {
            const int32_t expected = k >= 4 ? 1000 + i % (k * G) : 1000 + i;
            EXPECT_EQ(v[k * G + i], expected) << "k=" << k << " element " << i;
        }
        EXPECT_EQ(v[k * G + L], 1000 + k * G + L) << "k=" << k << " element past the vector";
    }
}

// The pipeline is not drained between rows: a 2D move one row ahead is still
// a clean shift, four rows (four lane groups) ahead the rows repeat.
TEST_P(EnginePaths, PipelineSpansRowsOf2DInstructions)
{
    int32_t *v = words(8192);
    set_vl(4);
    set_2d(8, 16, 16, 16);

    fill_words(v, 64, 0);
    kmrsim_2D_VVWWS(V_VVWWS, VMOV, v + 4, v, nullptr);
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(v[4 + i], i) << "one row ahead, element " << i;

    fill_words(v, 64, 0);
    kmrsim_2D_VVWWS(V_VVWWS, VMOV, v + 16, v, nullptr);
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(v[16 + i], i % 16) << "four rows ahead, element " << i;
}

// Lane groups are counted across rows, partial last groups included: with
// rows of 6 words (groups of 4 and 2) one row ahead is two groups (clean),
// two rows ahead is four groups (rows repeat).
TEST_P(EnginePaths, PartialGroupsCountAcrossRows)
{
    int32_t *v = words(8192);
    set_vl(6);
    set_2d(6, 24, 24, 24);

    fill_words(v, 64, 500);
    kmrsim_2D_VVWWS(V_VVWWS, VMOV, v + 6, v, nullptr);
    for (int i = 0; i < 36; ++i)
        EXPECT_EQ(v[6 + i], 500 + i) << "one row ahead, element " << i;

    fill_words(v, 64, 500);
    kmrsim_2D_VVWWS(V_VVWWS, VMOV, v + 12, v, nullptr);
    for (int i = 0; i < 36; ++i)
        EXPECT_EQ(v[12 + i], 500 + i % 12) << "two rows ahead, element " << i;
}

// The same rule across the matrices of a 3D instruction.
TEST_P(EnginePaths, PipelineSpansMatricesOf3DInstructions)
{
    int32_t *v = words(8192);
    set_vl(4);
    set_2d(2, 16, 16, 16);
    set_3d(4, 32, 32, 32);

    fill_words(v, 64, 0);
    kmrsim_3D_VVWWS(V_VVWWS, VMOV, v + 4, v, nullptr);
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(v[4 + i], i) << "one row ahead, element " << i;

    fill_words(v, 64, 0);
    kmrsim_3D_VVWWS(V_VVWWS, VMOV, v + 16, v, nullptr);
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(v[16 + i], i % 16) << "two matrices ahead, element " << i;
}

// ---------------------------------------------------------------------------
// Random overlapping instructions against the reference model.

namespace {

using issue_fn = std::function<void(vinstr_t, void *dest, void *a, int32_t scalar, void *b)>;

enum class form {
    VV,
    SV,
    VE
};

#define VV_ISSUERS(sfx)                                                                                     \
    std::array<issue_fn, 3>                                                                                 \
    {                                                                                                       \
        [](vinstr_t op, void *d, void *a, int32_t, void *b) { kmrsim_1D_##sfx(V_##sfx, op, d, a, b); },     \
            [](vinstr_t op, void *d, void *a, int32_t, void *b) { kmrsim_2D_##sfx(V_##sfx, op, d, a, b); }, \
            [](vinstr_t op, void *d, void *a, int32_t, void *b) { kmrsim_3D_##sfx(V_##sfx, op, d, a, b); }  \
    }
#define SV_ISSUERS(sfx)                                                                                      \
    std::array<issue_fn, 3>                                                                                  \
    {                                                                                                        \
        [](vinstr_t op, void *d, void *, int32_t s, void *b) { kmrsim_1D_##sfx(V_##sfx, op, d, s, b); },     \
            [](vinstr_t op, void *d, void *, int32_t s, void *b) { kmrsim_2D_##sfx(V_##sfx, op, d, s, b); }, \
            [](vinstr_t op, void *d, void *, int32_t s, void *b) { kmrsim_3D_##sfx(V_##sfx, op, d, s, b); }  \
    }
#define VE_ISSUERS(sfx)                                                                                    \
    std::array<issue_fn, 3>                                                                                \
    {                                                                                                      \
        [](vinstr_t op, void *d, void *a, int32_t, void *) { kmrsim_1D_##sfx(V_##sfx, op, d, a, 0); },     \
            [](vinstr_t op, void *d, void *a, int32_t, void *) { kmrsim_2D_##sfx(V_##sfx, op, d, a, 0); }, \
            [](vinstr_t op, void *d, void *a, int32_t, void *) { kmrsim_3D_##sfx(V_##sfx, op, d, a, 0); }  \
    }

// Runs `cases` random instructions of one entry shape and opcode, each from
// random memory, and compares every byte of the scratchpad and the flag
// memory with the reference model.
template <typename D, typename S, typename Src>
void compare_with_reference(const char *what, form f, const std::array<issue_fn, 3> &issue, vinstr_t op,
                            const ref::op_fn<S> &model, std::mt19937 &rng, int cases)
{
    constexpr int lanes = 4;
    constexpr int G = lanes * 4 / int(sizeof(S));
    constexpr int64_t base = 8192;
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };

    for (int n = 0; n < cases; ++n) {
        // One-row instructions half of the time: their overlaps have the
        // most distinct cases (old values, own results, a mixture).
        const int dim = pick(0, 1) ? 1 : pick(2, 3);
        const int L = pick(1, 8 * G);
        const int R = dim >= 2 ? pick(1, 4) : 1;
        const int M = dim == 3 ? pick(1, 3) : 1;
        // Strides that make rows overlap, touch, or lie apart, forwards and backwards.
        const int32_t d2 = pick(-2 * L, 2 * L) * int(sizeof(D));
        const int32_t a2 = pick(-2 * L, 2 * L) * int(sizeof(Src));
        const int32_t b2 = pick(-2 * L, 2 * L) * int(sizeof(Src));
        const int32_t d3 = pick(-3 * L, 3 * L) * int(sizeof(D)) * 2;
        const int32_t a3 = pick(-3 * L, 3 * L) * int(sizeof(Src)) * 2;
        const int32_t b3 = pick(-3 * L, 3 * L) * int(sizeof(Src)) * 2;
        // Destination up to six lane groups before or after a source.
        const int64_t a_off = base;
        const int64_t b_off = base + int64_t(pick(-6 * G, 6 * G)) * int64_t(sizeof(Src));
        const int64_t d_off = (pick(0, 1) ? a_off : b_off) + int64_t(pick(-6 * G, 6 * G)) * int64_t(sizeof(D));
        const int32_t scalar = static_cast<int32_t>(rng());

        for (int64_t i = base - 3072; i < base + 3072; ++i) {
            const uint32_t r = static_cast<uint32_t>(rng());
            *sp(size_t(i)) = static_cast<uint8_t>(r);
            *(state().flag_memory + i) = (r >> 29) == 0 ? 1 : 0;
        }
        set_vl(uint32_t(L));
        set_2d(uint32_t(R), d2, a2, b2);
        set_3d(uint32_t(M), d3, a3, b3);

        image expected = snapshot();
        std::vector<ref::row> rows;
        for (int m = 0; m < M; ++m)
            for (int r = 0; r < R; ++r) {
                const int64_t dm = dim == 3 ? m : 0, dr = dim >= 2 ? r : 0;
                ref::row row{d_off + dm * d3 + dr * d2, -1, -1};
                if (f != form::SV)
                    row.a = a_off + dm * a3 + dr * a2;
                if (f != form::VE && op != VMOV)
                    row.b = b_off + dm * b3 + dr * b2;
                rows.push_back(row);
            }
        ref::run<D, S, Src>(expected, rows, L, G, scalar, model);

        issue[size_t(dim - 1)](op, sp(size_t(d_off)), sp(size_t(a_off)), scalar, sp(size_t(b_off)));
        const image got = snapshot();
        ASSERT_TRUE(got == expected) << what << " case " << n << ": dim " << dim << " L " << L << " R " << R << " M "
                                     << M << " dest " << d_off - base << " B " << b_off - base << " strides d " << d2
                                     << "/" << d3 << " a " << a2 << "/" << a3 << " b " << b2 << "/" << b3 << ": "
                                     << first_difference(got, expected);
    }
}

}  // namespace

TEST_P(EnginePaths, RandomOverlappingInstructionsMatchThePipelineModel)
{
    reinit(4, 16);  // small memories keep the per-case snapshots cheap
    kmrsim::whole_row_path_enabled = GetParam();
    std::mt19937 rng(GetParam() ? 1234 : 4321);
    constexpr int n = 60;
    compare_with_reference<int32_t, int32_t, int32_t>("VVWWS VMOV", form::VV, VV_ISSUERS(VVWWS), VMOV,
                                                      ref::vmov<int32_t>(), rng, n);
    compare_with_reference<int32_t, int32_t, int32_t>("VVWWS VADD", form::VV, VV_ISSUERS(VVWWS), VADD,
                                                      ref::vadd<int32_t>(), rng, n);
    compare_with_reference<int32_t, int32_t, int32_t>("VVWWS VADDC", form::VV, VV_ISSUERS(VVWWS), VADDC,
                                                      ref::vaddc<int32_t>(), rng, n);
    compare_with_reference<int32_t, int32_t, int32_t>("VVWWS VCMV_Z", form::VV, VV_ISSUERS(VVWWS), VCMV_Z,
                                                      ref::vcmv_z<int32_t>(), rng, n);
    compare_with_reference<uint32_t, uint32_t, uint32_t>("VVWWU VADD", form::VV, VV_ISSUERS(VVWWU), VADD,
                                                         ref::vadd<uint32_t>(), rng, n);
    compare_with_reference<int8_t, int32_t, int32_t>("VVWBS VADD", form::VV, VV_ISSUERS(VVWBS), VADD,
                                                     ref::vadd<int32_t>(), rng, n);
    compare_with_reference<int8_t, int32_t, int32_t>("VVWBS VMOV", form::VV, VV_ISSUERS(VVWBS), VMOV,
                                                     ref::vmov<int32_t>(), rng, n);
    compare_with_reference<int8_t, int8_t, int8_t>("VVBBS VADD", form::VV, VV_ISSUERS(VVBBS), VADD, ref::vadd<int8_t>(),
                                                   rng, n);
    compare_with_reference<int8_t, int8_t, int8_t>("VVBBS VMOV", form::VV, VV_ISSUERS(VVBBS), VMOV, ref::vmov<int8_t>(),
                                                   rng, n);
    compare_with_reference<uint8_t, uint16_t, uint16_t>("VVHBU VADDC", form::VV, VV_ISSUERS(VVHBU), VADDC,
                                                        ref::vaddc<uint16_t>(), rng, n);
    compare_with_reference<int32_t, int32_t, int32_t>("SVWWS VADD", form::SV, SV_ISSUERS(SVWWS), VADD,
                                                      ref::vadd<int32_t>(), rng, n);
    compare_with_reference<int32_t, int32_t, int32_t>("VEWWS VADD", form::VE, VE_ISSUERS(VEWWS), VADD,
                                                      ref::vadd<int32_t>(), rng, n);
}

// ---------------------------------------------------------------------------
// Lane groups, enumeration, conditional moves, flags.

TEST_P(EnginePaths, PositionsPastTheVectorLengthStayUntouched)
{
    int32_t *w = words(1024);
    int8_t *b = reinterpret_cast<int8_t *>(sp(2048));
    for (int i = 0; i < 16; ++i) {
        w[i] = 0x5A5A5A5A;
        put_flag<int32_t>(w, size_t(i), 1);
        b[i] = 0x33;
        put_flag<int8_t>(b, size_t(i), 1);
    }
    set_vl(10);
    kmrsim_1D_SEWWS(V_SEWWS, VADD, w, 1, 0);  // groups of 4: 4, 4 and 2 valid
    kmrsim_1D_SEWBS(V_SEWBS, VADD, b, 1, 0);  // one group of 16 with 10 valid
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(w[i], i + 1);
        EXPECT_EQ(flag<int32_t>(w, size_t(i)), 0);
        EXPECT_EQ(b[i], i + 1);
        EXPECT_EQ(flag<int8_t>(b, size_t(i)), 0);
    }
    for (int i = 10; i < 16; ++i) {
        EXPECT_EQ(w[i], 0x5A5A5A5A) << i;
        EXPECT_EQ(flag<int32_t>(w, size_t(i)), 1) << i;
        EXPECT_EQ(b[i], 0x33) << i;
        EXPECT_EQ(flag<int8_t>(b, size_t(i)), 1) << i;
    }
}

// Operand B of the enumeration forms is the element's index in its row,
// converted to the computation type: a byte SE instruction counts 0..255,
// 0, 1, ... and every row starts again at 0.
TEST_P(EnginePaths, EnumerationRestartsEveryRowAndWrapsAtTheComputationWidth)
{
    int8_t *b = reinterpret_cast<int8_t *>(sp(4096));
    set_vl(300);
    set_2d(2, 300, 0, 0);
    kmrsim_2D_SEWBS(V_SEWBS, VADD, b, 0, 0);
    for (int r = 0; r < 2; ++r)
        for (int i = 0; i < 300; ++i) {
            ASSERT_EQ(b[r * 300 + i], static_cast<int8_t>(i % 256)) << "row " << r << " element " << i;
            ASSERT_EQ(flag<int8_t>(b, size_t(r * 300 + i)), 0);
        }

    uint16_t *h = reinterpret_cast<uint16_t *>(sp(8192));
    set_vl(5);
    set_2d(3, 10, 0, 0);
    kmrsim_2D_SEWHU(V_SEWHU, VADD, h, 7, 0);
    for (int r = 0; r < 3; ++r)
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(h[r * 5 + i], 7 + i) << "row " << r;

    int32_t *a = words(12288), *d = words(16384);
    fill_words(a, 12, 100);
    set_vl(4);
    set_2d(3, 16, 16, 0);
    kmrsim_2D_VEWWS(V_VEWWS, VSUB, d, a, 0);
    for (int r = 0; r < 3; ++r)
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(d[r * 4 + i], 100 + r * 4) << "row " << r;
}

TEST_P(EnginePaths, FailedConditionalMoveLeavesElementAndFlagAlone)
{
    int32_t *d = words(1024), *a = words(2048), *b = words(3072);
    const int32_t bv[6] = {0, 5, 0, -7, 0, 1};
    for (int i = 0; i < 6; ++i) {
        d[i] = -1 - i;
        put_flag<int32_t>(d, size_t(i), 1);
        a[i] = 10 * i;
        put_flag<int32_t>(a, size_t(i), 0);
        b[i] = bv[i];
    }
    set_vl(6);
    kmrsim_1D_VVWWS(V_VVWWS, VCMV_Z, d, a, b);
    for (int i = 0; i < 6; ++i) {
        if (bv[i] == 0) {
            EXPECT_EQ(d[i], 10 * i) << i;
            EXPECT_EQ(flag<int32_t>(d, size_t(i)), 0) << i;
        } else {
            EXPECT_EQ(d[i], -1 - i) << i;
            EXPECT_EQ(flag<int32_t>(d, size_t(i)), 1) << i;
        }
    }
}

// Result flags land at the flag address of their element, with the
// destination's width; neighbouring flag bytes keep their contents.
TEST_P(EnginePaths, FlagsAreWrittenAtTheElementsFlagAddress)
{
    int32_t *a = words(1024), *b = words(2048), *d = words(3072);
    const int32_t av[4] = {INT_MAX, 1, -1, INT_MIN};
    const int32_t bv[4] = {1, 1, 1, -1};
    for (int i = 0; i < 4; ++i) {
        a[i] = av[i];
        b[i] = bv[i];
    }
    set_vl(4);
    kmrsim_1D_VVWWS(V_VVWWS, VADD, d, a, b);
    const int32_t dv[4] = {INT_MIN, 2, 0, INT_MAX};
    const int32_t df[4] = {1, 0, 0, 1};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(d[i], dv[i]);
        EXPECT_EQ(get<int32_t>(get_flg_addr(d + i)), df[i]) << i;
        EXPECT_EQ(flag<int32_t>(a, size_t(i)), 0);
    }

    uint8_t *db = sp(4096);
    for (int i = 0; i < 6; ++i)
        *static_cast<uint8_t *>(get_flg_addr(db + i)) = 7;
    kmrsim_1D_VVWBS(V_VVWBS, VADD, db, a, b);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(static_cast<int8_t>(db[i]), static_cast<int8_t>(dv[i]));
        EXPECT_EQ(*static_cast<uint8_t *>(get_flg_addr(db + i)), df[i]) << i;
    }
    EXPECT_EQ(*static_cast<uint8_t *>(get_flg_addr(db + 4)), 7);
    EXPECT_EQ(*static_cast<uint8_t *>(get_flg_addr(db + 5)), 7);
}

TEST_P(EnginePaths, MoveNeverReadsSourceB)
{
    int32_t *a = words(1024), *d = words(2048);
    fill_words(a, 9, 40);
    set_vl(9);
    kmrsim_1D_VVWWS(V_VVWWS, VMOV, d, a, nullptr);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(d[i], 40 + i);
    kmrsim_1D_SVWWS(V_SVWWS, VMOV, d, -3, nullptr);
    set_2d(2, 36, 0, 0x7FF0);  // B's stride on a null B is never used either
    kmrsim_2D_SVWBS(V_SVWBS, VMOV, sp(4096), 300, nullptr);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(d[i], -3);
        EXPECT_EQ(static_cast<int8_t>(*sp(4096 + size_t(i))), 44);
        EXPECT_EQ(static_cast<int8_t>(*sp(4096 + 36 + size_t(i))), 44);
    }
}

// The mask memory as destination (as mask setup uses it) receives values
// but no flags, and reading it as a source yields flag 0.
TEST_P(EnginePaths, MaskMemoryDestinationGetsValuesButNoFlags)
{
    uint8_t *mask = state().mask_memory;
    int32_t *a = words(1024), *b = words(2048);
    for (int i = 0; i < 8; ++i) {
        a[i] = INT_MAX - i;
        b[i] = 1;
        put_flag<int32_t>(a, size_t(i), 1);
    }
    set_vl(8);
    const image before = snapshot();
    kmrsim_1D_VVWBS(V_VVWBS, VADD, mask, a, b);  // overflowing adds would set flags
    const image after = snapshot();
    EXPECT_TRUE(after.flags == before.flags);
    EXPECT_TRUE(after.mem == before.mem);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(mask[i], static_cast<uint8_t>(uint32_t(INT_MAX - i) + 1u)) << i;

    // Mask bytes read back as flag 0: VADDC adds B's flag only.
    kmrsim_1D_VVBBS(V_VVBBS, VADDC, sp(4096), mask, mask);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(*sp(4096 + size_t(i)), mask[i]) << i;
}

INSTANTIATE_TEST_SUITE_P(, EnginePaths, testing::Bool(), path_name);

// ---------------------------------------------------------------------------
// Cycle accounting and counting.

namespace {
void expect_cycles(vinstr_t op, std::array<uint32_t, 9> expected)
{
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(get_the_kmrsim()->stats.cycle_count[op][i], expected[size_t(i)]) << "configuration " << i;
}
}  // namespace

TEST_F(Engine, CyclesFollowVectorLengthElementSizeAndDimensions)
{
    void *d = sp(1024), *a = sp(4096);
    set_vl(10);
    set_2d(3, 64, 64, 64);
    set_3d(2, 256, 256, 256);

    kmrsim_1D_VVWWS(V_VVWWS, VADD, d, a, a);  // row and matrix counts do not apply to 1D
    expect_cycles(VADD, {10, 5, 3, 2, 1, 1, 1, 1, 1});
    kmrsim_1D_SEWBS(V_SEWBS, VSUB, d, 0, 0);
    expect_cycles(VSUB, {3, 2, 1, 1, 1, 1, 1, 1, 1});
    kmrsim_1D_SEWHS(V_SEWHS, VXOR, d, 0, 0);
    expect_cycles(VXOR, {5, 3, 2, 1, 1, 1, 1, 1, 1});
    kmrsim_1D_VVWBS(V_VVWBS, VOR, d, a, a);  // esize is the wider (source) width
    expect_cycles(VOR, {10, 5, 3, 2, 1, 1, 1, 1, 1});

    kmrsim_2D_VVWWS(V_VVWWS, VMUL, d, a, a);
    expect_cycles(VMUL, {30, 15, 9, 6, 3, 3, 3, 3, 3});
    kmrsim_3D_VVWWS(V_VVWWS, VAND, d, a, a);
    expect_cycles(VAND, {60, 30, 18, 12, 6, 6, 6, 6, 6});
    kmrsim_3D_VVWWS(V_VVWWS, VAND, d, a, a);
    expect_cycles(VAND, {120, 60, 36, 24, 12, 12, 12, 12, 12});

    EXPECT_EQ(stats().instruction_count[VADD], 1u);
    EXPECT_EQ(stats().instruction_count[VAND], 2u);
    EXPECT_EQ(stats().instruction_count[VMOV], 0u);
}

// A vector length of 0 or a row or matrix count of 0: counted, no cycles,
// no scratchpad byte changes and no pending DMA over the operands completes.
TEST_F(Engine, EmptyInstructionsAreCountedButDoNothing)
{
    int32_t *d = words(1024), *a = words(2048);
    fill_words(a, 8, 1);
    static int32_t host[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    sim_dma_to_vector(d, host, sizeof host);
    const image before = snapshot();

    set_vl(0);
    kmrsim_1D_VVWWS(V_VVWWS, VMOV, d, a, nullptr);
    kmrsim_1D_SEWWS(V_SEWWS, VADD, d, 5, 0);
    set_vl(8);
    set_2d(0, 32, 32, 32);
    kmrsim_2D_VVWWS(V_VVWWS, VMOV, d, a, nullptr);
    set_2d(2, 32, 32, 32);
    set_3d(0, 64, 64, 64);
    kmrsim_3D_VVWWS(V_VVWWS, VMOV, d, a, nullptr);

    EXPECT_TRUE(snapshot() == before);
    ASSERT_NE(state().dma_queue, nullptr) << "an empty instruction completed pending DMA";
    EXPECT_EQ(stats().instruction_count[VMOV], 3u);
    EXPECT_EQ(stats().instruction_count[VADD], 1u);
    expect_cycles(VMOV, {0, 0, 0, 0, 0, 0, 0, 0, 0});
    expect_cycles(VADD, {0, 0, 0, 0, 0, 0, 0, 0, 0});

    kmrsim_1D_VVWWS(V_VVWWS, VMOV, d, a, nullptr);  // a real one waits for the DMA first
    EXPECT_EQ(state().dma_queue, nullptr);
    EXPECT_EQ(d[7], 8);
}

TEST_F(Engine, OpcodeOutsideTheInstructionSetIsRefused)
{
    int32_t *d = words(1024);
    set_vl(4);
    const image before = snapshot();
    const kmrsim_stats_t st = stats();
    for (int op : {40, -1, 1000}) {
        const std::string err = stderr_of([&] {
            kmrsim_1D_SEWWS(V_SEWWS, static_cast<vinstr_t>(op), d, 1, 0);
            kmrsim_2D_VVWBS(V_VVWBS, static_cast<vinstr_t>(op), d, d, d);
        });
        EXPECT_EQ(err.rfind("Error: ", 0), 0u) << op << ": " << err;
    }
    EXPECT_TRUE(same_stats(stats(), st));
    EXPECT_TRUE(snapshot() == before);
}

namespace {
int custom_calls = 0;
void counting_custom(kmrsim_custom_args *)
{
    ++custom_calls;
}
}  // namespace

// A custom opcode whose lane count is 0 would make no progress; it is
// refused. (The custom-instruction tests cover a count reset by kmrsim_init.)
TEST_F(Engine, CustomOpcodeWithoutLanesIsRefused)
{
    int32_t *d = words(1024);
    set_vl(8);
    custom_calls = 0;
    kmrsim_set_custom_instruction(5, 1, 0, counting_custom);
    const image before = snapshot();
    const std::string err = stderr_of([&] { kmrsim_1D_SEWWS(V_SEWWS, VCUSTOM5, d, 1, 0); });
    EXPECT_EQ(err.rfind("Error: ", 0), 0u) << err;
    EXPECT_EQ(custom_calls, 0);
    EXPECT_TRUE(snapshot() == before);

    kmrsim_set_custom_instruction(5, 1, 4, counting_custom);
    kmrsim_1D_SEWWS(V_SEWWS, VCUSTOM5, d, 1, 0);
    EXPECT_EQ(custom_calls, 2);
    kmrsim_set_custom_instruction(5, 1, 0, nullptr);
}

// ---------------------------------------------------------------------------
// Scalar conversion and the ignored mode argument.

TEST_F(Engine, ScalarIsNarrowedToTheDestinationWidthForSE)
{
    int8_t *b = reinterpret_cast<int8_t *>(sp(1024));
    set_vl(20);
    kmrsim_1D_SEWBS(V_SEWBS, VMOV, b, 0x1FF, 0);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(b[i], -1);
    kmrsim_1D_SEWBS(V_SVWWU, VMOV, b, 300, 0);  // the mode argument is not read
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(b[i], 44);
    kmrsim_1D_SEWBS(V_SEWBS, VADD, b, 200, 0);  // -56 + index
    EXPECT_EQ(b[0], -56);
    EXPECT_EQ(b[19], -37);

    int16_t *h = reinterpret_cast<int16_t *>(sp(2048));
    kmrsim_1D_SEWHS(V_SEWHS, VMOV, h, 0x18000, 0);
    EXPECT_EQ(h[0], -32768);
    uint16_t *hu = reinterpret_cast<uint16_t *>(sp(4096));
    kmrsim_1D_SEWHU(V_SEWHU, VSHR, hu, 1, 0);  // unsigned: zero-extended scalar, logical shift of the index
    EXPECT_EQ(hu[19], 9);
}

TEST_F(Engine, ModeArgumentIsIgnored)
{
    int32_t *a = words(1024), *d = words(2048);
    fill_words(a, 6, 0x10000);
    set_vl(6);
    kmrsim_1D_VVWWS(V_SEBBS, VADD, d, a, a);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(d[i], 2 * (0x10000 + i));
    expect_cycles(VADD, {6, 3, 2, 1, 1, 1, 1, 1, 1});
}
