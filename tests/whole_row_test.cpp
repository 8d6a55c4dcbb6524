// The whole-row path against the lane-group pipeline: every instruction is
// run twice from the same scratchpad, flag memory and mask memory, once with
// the whole-row path allowed and once with every row forced through the
// pipeline, and the two results must agree byte for byte. Operands are
// random and overlap in every way the engine distinguishes: identical
// ranges, destinations a few elements before or after a source (old values,
// own results, mixtures of both), mixed widths, overlapping rows, the mask
// memory as destination, masks and accumulation.
#include <algorithm>
#include <random>
#include <utility>
#include <string>
#include <vector>

#include "host_isa.hpp"
#include "sim_fixture.hpp"

using namespace simtest;

namespace {

using issue_fn = void (*)(vinstr_t, void *dest, void *a, int32_t scalar, void *b);

struct shape {
    const char *name;
    int src_size;  // element size of vector sources
    int dst_size;
    bool a_vec;
    bool b_vec;
    int dim;
    bool masked;
    issue_fn issue;
};

#define SHAPE_VV(pre, n, ss, ds, dim, masked)                                                            \
    shape                                                                                                \
    {                                                                                                    \
#pre #n, ss, ds, true, true, dim, masked,                                                        \
            [](vinstr_t op, void *d, void *a, int32_t, void *b) { kmrsim_##pre##n(V_##n, op, d, a, b); } \
    }
#define SHAPE_SV(pre, n, ss, ds, dim, masked)                                                             \
    shape                                                                                                 \
    {                                                                                                     \
#pre #n, ss, ds, false, true, dim, masked,                                                        \
            [](vinstr_t op, void *d, void *, int32_t s, void *b) { kmrsim_##pre##n(V_##n, op, d, s, b); } \
    }
#define SHAPE_VE(pre, n, ss, ds, dim, masked)                                                           \
    shape                                                                                               \
    {                                                                                                   \
#pre #n, ss, ds, true, false, dim, masked,                                                      \
            [](vinstr_t op, void *d, void *a, int32_t, void *) { kmrsim_##pre##n(V_##n, op, d, a, 0); } \
    }
#define SHAPE_SE(pre, n, ss, ds, dim, masked)                                                            \
    shape                                                                                                \
    {                                                                                                    \
#pre #n, ss, ds, false, false, dim, masked,                                                      \
            [](vinstr_t op, void *d, void *, int32_t s, void *) { kmrsim_##pre##n(V_##n, op, d, s, 0); } \
    }

const std::vector<shape> one_row_shapes = {
    SHAPE_VV(1D_, VVWWS, 4, 4, 1, false), SHAPE_VV(1D_, VVWWU, 4, 4, 1, false), SHAPE_VV(1D_, VVWBS, 4, 1, 1, false),
    SHAPE_VV(1D_, VVWHU, 4, 2, 1, false), SHAPE_VV(1D_, VVBBU, 1, 1, 1, false), SHAPE_VV(1D_, VVHBS, 2, 1, 1, false),
    SHAPE_VV(1D_, VVBHS, 1, 2, 1, false), SHAPE_VV(1D_, VVHHS, 2, 2, 1, false), SHAPE_SV(1D_, SVWWS, 4, 4, 1, false),
    SHAPE_SV(1D_, SVWBU, 4, 1, 1, false), SHAPE_VE(1D_, VEWWS, 4, 4, 1, false), SHAPE_VE(1D_, VEBBS, 1, 1, 1, false),
    SHAPE_SE(1D_, SEWBS, 4, 1, 1, false), SHAPE_SE(1D_, SEWHU, 4, 2, 1, false),
};

const std::vector<shape> multi_row_shapes = {
    SHAPE_VV(2D_, VVWWS, 4, 4, 2, false), SHAPE_VV(2D_, VVWBS, 4, 1, 2, false), SHAPE_VV(2D_, VVBBU, 1, 1, 2, false),
    SHAPE_SV(2D_, SVWWS, 4, 4, 2, false), SHAPE_VE(2D_, VEHHS, 2, 2, 2, false), SHAPE_VV(3D_, VVWWS, 4, 4, 3, false),
    SHAPE_VE(3D_, VEWBS, 4, 1, 3, false), SHAPE_VV(3D_, VVHBU, 2, 1, 3, false),
};

const std::vector<shape> masked_and_acc_shapes = {
    SHAPE_VV(masked_1D_, VVWWS, 4, 4, 1, true),     SHAPE_VV(masked_1D_, VVBBS, 1, 1, 1, true),
    SHAPE_VV(masked_1D_, VVHBU, 2, 1, 1, true),     SHAPE_SV(masked_1D_, SVWWS, 4, 4, 1, true),
    SHAPE_SE(masked_1D_, SEWWS, 4, 4, 1, true),     SHAPE_VE(masked_1D_, VEWHS, 4, 2, 1, true),
    SHAPE_VV(masked_acc_1D_, VVWWS, 4, 4, 1, true), SHAPE_VV(masked_acc_1D_, VVBHU, 1, 2, 1, true),
    SHAPE_VV(acc_1D_, VVWWS, 4, 4, 1, false),       SHAPE_VV(acc_2D_, VVWBS, 4, 1, 2, false),
    SHAPE_SE(acc_1D_, SEWHS, 4, 2, 1, false),       SHAPE_VE(acc_3D_, VEWWU, 4, 4, 3, false),
    SHAPE_SE(masked_acc_1D_, SEHHS, 2, 2, 1, true), SHAPE_SV(masked_acc_1D_, SVBBU, 1, 1, 1, true),
    SHAPE_SV(masked_1D_, SVHHU, 2, 2, 1, true),     SHAPE_SE(masked_1D_, SEBBS, 1, 1, 1, true),
};

// Memories small enough that three snapshots per instruction stay cheap.
constexpr int scratchpad_kb = 16;
constexpr int64_t base = 8192;

class WholeRow : public SimTest {
protected:
    std::mt19937 rng{20240611};

    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
    vinstr_t any_builtin() { return static_cast<vinstr_t>(pick(0, 23)); }

    void init_lanes(int lanes) { reinit(lanes, scratchpad_kb); }

    // Random values around the operands; flags mostly 0, some 1.
    void randomise()
    {
        for (int64_t i = base - 3072; i < base + 3072; ++i) {
            const uint32_t r = static_cast<uint32_t>(rng());
            *sp(size_t(i)) = static_cast<uint8_t>(r);
            state().flag_memory[i] = (r >> 29) == 0 ? 1 : 0;
        }
    }

    // A random mask over `length` positions, built from data outside the
    // operand region.
    void random_mask(int length)
    {
        int32_t *data = reinterpret_cast<int32_t *>(sp(256));
        for (int i = 0; i < length; ++i)
            data[i] = pick(0, 3) == 0 ? 0 : 1;
        set_vl(uint32_t(length));
        kmrsim_setup_mask(V_VVWWS, VCMV_NZ, data);
    }

    // Runs the instruction on both paths and requires identical memories.
    // On a host with AVX2 the whole-row path runs a third time with the
    // loops compiled for any x86-64, which must give the same memories.
    void compare(const std::string &what, const std::function<void()> &instr)
    {
        const image start = snapshot();
        const two_runs r = run_both_paths(instr);
        ASSERT_TRUE(r.whole == r.pipelined) << what << ": " << first_difference(r.whole, r.pipelined);
        if (!kmrsim::host_has_avx2())
            return;
        restore(start);
        kmrsim::wide_vectors = false;
        instr();
        kmrsim::wide_vectors = true;
        const image generic = snapshot();
        ASSERT_TRUE(generic == r.whole) << what << ", generic loops: " << first_difference(generic, r.whole);
    }
};

std::string describe(const shape &s, vinstr_t op, int lanes, int L, int64_t a, int64_t b, int64_t d)
{
    return std::string(s.name) + " op " + std::to_string(op) + " lanes " + std::to_string(lanes) + " L " +
           std::to_string(L) + " A " + std::to_string(a - base) + " B " + std::to_string(b - base) + " dest " +
           std::to_string(d - base);
}

}  // namespace

// Destinations 0..9 elements before or after a source (and identical
// ranges), for every opcode, with lane groups of several sizes so that each
// distance falls in every class: never visible, always visible, mixed.
TEST_F(WholeRow, OneRowOverlapsAgreeWithThePipeline)
{
    for (int lanes : {1, 2, 4}) {
        init_lanes(lanes);
        for (const shape &s : one_row_shapes) {
            for (int k = -9; k <= 9; ++k) {
                for (int rep = 0; rep < 2; ++rep) {
                    const vinstr_t op = any_builtin();
                    const int L = pick(0, 40);
                    const int64_t a = base;
                    // B: the same range as A, near it, or far away.
                    const int mode = pick(0, 2);
                    const int64_t b = mode == 0 ? a : mode == 1 ? a + pick(-9, 9) * s.src_size : base + 1536;
                    // The destination measured from A or from B, sometimes at an odd byte.
                    int64_t d = (pick(0, 1) ? a : b) + int64_t(k) * s.dst_size;
                    if (pick(0, 9) == 0)
                        d += 1;
                    randomise();
                    set_vl(uint32_t(L));
                    const int32_t scalar = static_cast<int32_t>(rng());
                    compare(describe(s, op, lanes, L, a, b, d),
                            [&] { s.issue(op, sp(size_t(d)), sp(size_t(a)), scalar, sp(size_t(b))); });
                    if (testing::Test::HasFatalFailure())
                        return;
                }
            }
        }
    }
}

// Rows of one element type, unmasked and not accumulating, which mostly take
// the short-row path: lengths from one element to beyond a chunk, sources
// apart from the destination, identical to it, a few elements before or
// after it, or a byte off, in every form.
TEST_F(WholeRow, ShortRowsAgreeWithThePipeline)
{
    const shape shapes[] = {SHAPE_VV(1D_, VVWWS, 4, 4, 1, false), SHAPE_VV(1D_, VVHHS, 2, 2, 1, false),
                            SHAPE_VV(1D_, VVBBU, 1, 1, 1, false), SHAPE_SV(1D_, SVWWU, 4, 4, 1, false),
                            SHAPE_VE(1D_, VEHHU, 2, 2, 1, false), SHAPE_SE(1D_, SEWBS, 4, 1, 1, false)};
    init_lanes(4);
    for (const shape &s : shapes) {
        for (int L : {1, 17, 64, 257, 700, 1030}) {
            if (L * std::max(s.src_size, s.dst_size) > 1400)
                continue;
            for (int where : {-3, -1, 0, 1, 3, 100000}) {
                const vinstr_t op = any_builtin();
                const int64_t d = base - 1500 + (pick(0, 4) == 0 ? 1 : 0);
                const int64_t far = base + 100;
                const int64_t a = where == 100000 ? far : d + int64_t(where) * s.src_size + (pick(0, 5) == 0 ? 1 : 0);
                const int64_t b = pick(0, 1) ? a : far + pick(0, 3);
                randomise();
                set_vl(uint32_t(L));
                const int32_t scalar = static_cast<int32_t>(rng());
                compare(describe(s, op, 4, L, a, b, d),
                        [&] { s.issue(op, sp(size_t(d)), sp(size_t(a)), scalar, sp(size_t(b))); });
                if (testing::Test::HasFatalFailure())
                    return;
            }
        }
    }
}

// Masked and conditional rows that end at the scratchpad's last byte in the
// middle of a lane group: the lane groups reach past the end, where nothing
// may be read or written (the address sanitizer watches), and both paths
// store only the enabled elements inside.
TEST_F(WholeRow, EnabledStoresAtTheScratchpadEndAgreeWithThePipeline)
{
    const shape shapes[] = {SHAPE_VV(masked_1D_, VVWWS, 4, 4, 1, true), SHAPE_VV(masked_1D_, VVHHU, 2, 2, 1, true),
                            SHAPE_VV(masked_1D_, VVHBS, 2, 1, 1, true), SHAPE_VV(1D_, VVBBS, 1, 1, 1, false)};
    init_lanes(4);
    uint8_t *const end = static_cast<uint8_t *>(state().tqm.scratchpad_end);
    const int64_t size = end - sp(0);
    for (const shape &s : shapes) {
        for (int L = 1; L <= 9; ++L) {
            for (const vinstr_t op : {VADD, VCMV_LTZ, VCMV_NZ}) {
                random_mask(L);
                const int64_t d = size - L * s.dst_size;
                for (int64_t i = d - 64; i < size; ++i) {
                    *sp(size_t(i)) = static_cast<uint8_t>(rng());
                    state().flag_memory[i] = static_cast<uint8_t>(pick(0, 1));
                }
                const int64_t a = base, b = base + 512;
                compare(describe(s, op, 4, L, a, b, d),
                        [&] { s.issue(op, sp(size_t(d)), sp(size_t(a)), 0, sp(size_t(b))); });
                if (testing::Test::HasFatalFailure())
                    return;
            }
        }
    }
}

// 2D and 3D instructions whose rows overlap each other and the sources, and
// in-place ones (a source that is the destination, row for row) with rows
// apart, touching or overlapping.
TEST_F(WholeRow, MultiRowOverlapsAgreeWithThePipeline)
{
    for (int lanes : {1, 4}) {
        init_lanes(lanes);
        for (int n = 0; n < 300; ++n) {
            const shape &s = multi_row_shapes[size_t(pick(0, int(multi_row_shapes.size()) - 1))];
            const vinstr_t op = any_builtin();
            const int L = pick(0, 24);
            const int R = pick(0, 4), M = s.dim == 3 ? pick(0, 3) : 1;
            int64_t a = base;
            int64_t b = pick(0, 1) ? a + pick(-9, 9) * s.src_size : base + 1536;
            const int64_t d = (pick(0, 1) ? a : b) + pick(-9, 9) * s.dst_size;
            const int32_t d2 = pick(-2 * L, 2 * L) * s.dst_size, d3 = pick(-4 * L, 4 * L) * s.dst_size;
            int32_t a2 = pick(-2 * L, 2 * L) * s.src_size, a3 = pick(-4 * L, 4 * L) * s.src_size;
            int32_t b2 = pick(-2 * L, 2 * L) * s.src_size, b3 = pick(-4 * L, 4 * L) * s.src_size;
            const int in_place = s.src_size == s.dst_size ? pick(0, 2) : 0;
            if (in_place == 1) {
                a = d;
                a2 = d2;
                a3 = d3;
            } else if (in_place == 2) {
                b = d;
                b2 = d2;
                b3 = d3;
            }
            set_2d(uint32_t(R), d2, a2, b2);
            set_3d(uint32_t(M), d3, a3, b3);
            randomise();
            set_vl(uint32_t(L));
            const int32_t scalar = static_cast<int32_t>(rng());
            compare(describe(s, op, lanes, L, a, b, d) + " rows " + std::to_string(R) + " mats " + std::to_string(M) +
                        " strides " + std::to_string(d2) + "/" + std::to_string(d3),
                    [&] { s.issue(op, sp(size_t(d)), sp(size_t(a)), scalar, sp(size_t(b))); });
            if (testing::Test::HasFatalFailure())
                return;
        }
    }
}

// Masked and accumulating instructions, with masks shorter or longer than
// the vector length.
TEST_F(WholeRow, MaskedAndAccumulatingInstructionsAgreeWithThePipeline)
{
    for (int lanes : {1, 4}) {
        init_lanes(lanes);
        for (int n = 0; n < 300; ++n) {
            const shape &s = masked_and_acc_shapes[size_t(pick(0, int(masked_and_acc_shapes.size()) - 1))];
            // VMOV often: with a scalar it gives one result for every element.
            const vinstr_t op = pick(0, 2) == 0 ? VMOV : any_builtin();
            const int L = pick(0, 30);
            if (s.masked)
                random_mask(pick(0, 30));
            set_2d(uint32_t(pick(1, 3)), pick(-8, 8) * s.dst_size, pick(-8, 8) * s.src_size, pick(-8, 8) * s.src_size);
            set_3d(2, pick(-16, 16) * s.dst_size, pick(-16, 16) * s.src_size, pick(-16, 16) * s.src_size);
            const int64_t a = base;
            const int64_t b = pick(0, 1) ? a + pick(-9, 9) * s.src_size : base + 1536;
            const int64_t d = (pick(0, 1) ? a : b) + pick(-9, 9) * s.dst_size;
            randomise();
            set_vl(uint32_t(L));
            const int32_t scalar = static_cast<int32_t>(rng());
            compare(describe(s, op, lanes, L, a, b, d),
                    [&] { s.issue(op, sp(size_t(d)), sp(size_t(a)), scalar, sp(size_t(b))); });
            if (testing::Test::HasFatalFailure())
                return;
        }
    }
}

// The mask memory itself as destination of masked byte instructions (its
// own enable source), and mask refinement, which is such an instruction.
TEST_F(WholeRow, MaskMemoryDestinationsAgreeWithThePipeline)
{
    for (int lanes : {1, 4}) {
        init_lanes(lanes);
        for (int n = 0; n < 150; ++n) {
            const int L = pick(1, 64);
            random_mask(L);
            randomise();
            const vinstr_t op = pick(0, 2) == 0 ? VMOV : any_builtin();
            const int k = pick(0, 40);
            const int64_t a = base + pick(-9, 9);
            const std::string what = "mask + " + std::to_string(k) + " op " + std::to_string(op);
            compare(what, [&] {
                kmrsim_masked_1D_VVBBS(V_VVBBS, op, state().mask_memory + k, sp(size_t(a)), sp(size_t(a)));
            });
            compare(what,
                    [&] { kmrsim_masked_1D_SVBBU(V_SVBBU, op, state().mask_memory + k, 3, state().mask_memory); });
            const vinstr_t condition = static_cast<vinstr_t>(pick(VCMV_LEZ, VCMV_NZ));
            compare("refinement", [&] { kmrsim_setup_mask_masked(V_VVBBS, condition, sp(size_t(a))); });
            if (testing::Test::HasFatalFailure())
                return;
        }
    }
}

// Two-dimensional instructions working in place, whose sources are other
// rows of the destination (filters over neighbouring rows): the source
// rows lie a few rows and a few elements away from the destination rows,
// with equal or different strides, rows of one to several lane groups, so
// that reads of rewritten rows fall on both sides of the pipeline's depth.
TEST_F(WholeRow, InPlaceRowFiltersAgreeWithThePipeline)
{
    const shape two_d[] = {SHAPE_VV(2D_, VVWWS, 4, 4, 2, false), SHAPE_VV(2D_, VVBBU, 1, 1, 2, false),
                           SHAPE_VE(2D_, VEHHS, 2, 2, 2, false), SHAPE_SV(2D_, SVWWS, 4, 4, 2, false)};
    int whole = 0, pipelined = 0;
    for (int lanes : {1, 2, 4}) {
        init_lanes(lanes);
        for (int n = 0; n < 400; ++n) {
            const shape &s = two_d[size_t(pick(0, 3))];
            const int es = s.dst_size;
            const vinstr_t op = any_builtin();
            const int L = pick(1, 40), R = pick(1, 8);
            const int32_t pitch = (L + pick(0, 3)) * es * (pick(0, 3) == 0 ? -1 : 1);
            const int64_t d = base;
            auto near_rows = [&] { return d + int64_t(pick(-2, 2)) * pitch + pick(-5, 5) * es; };
            const int64_t a = near_rows(), b = pick(0, 2) == 0 ? base - 2048 : near_rows();
            const int32_t a2 = pick(0, 3) == 0 ? pitch + pick(-1, 1) * es : pitch;
            const int32_t b2 = pick(0, 3) == 0 ? pitch + pick(-1, 1) * es : pitch;
            set_2d(uint32_t(R), pitch, a2, b2);
            randomise();
            set_vl(uint32_t(L));
            const int G = lanes * 4 / es;
            auto row_by_row = [&](bool vec, int64_t src, int32_t s2) {
                size_t limit = SIZE_MAX;
                return !vec || kmrsim::classify_rows(uintptr_t(src), s2, size_t(es), uintptr_t(d), pitch, size_t(es), L,
                                                     R, G, limit) != kmrsim::source_access::pipeline;
            };
            const bool direct_a = row_by_row(s.a_vec, a, a2) && row_by_row(s.b_vec, b, b2);
            (direct_a ? whole : pipelined) += 1;
            const int32_t scalar = static_cast<int32_t>(rng());
            compare(describe(s, op, lanes, L, a, b, d) + " rows " + std::to_string(R) + " pitch " +
                        std::to_string(pitch) + " strides " + std::to_string(a2) + "/" + std::to_string(b2),
                    [&] { s.issue(op, sp(size_t(d)), sp(size_t(a)), scalar, sp(size_t(b))); });
            if (testing::Test::HasFatalFailure())
                return;
        }
    }
    // Both outcomes occur often enough for the comparison to mean something.
    EXPECT_GT(whole, 200);
    EXPECT_GT(pipelined, 100);
}

// Which source rows the row-by-row computation may read, for sources that
// are other rows of the destination (4 lanes: G = 4 words, 8 half-words).
TEST(ClassifyRows, RowRelationsTheWholeRowPathCanHonour)
{
    using kmrsim::classify_rows;
    using kmrsim::source_access;
    const uintptr_t d = 0x10000;
    // Word rows of L elements, R rows, destination pitch d2 (4 lanes).
    auto rows = [&](intptr_t from_dest, int32_t s2, size_t size, int32_t d2, int64_t L, int32_t R) {
        size_t limit = SIZE_MAX;
        const source_access access = classify_rows(d + uintptr_t(from_dest), s2, size, d, d2, 4, L, R, 4, limit);
        return std::make_pair(access, limit);
    };
    const auto live = std::make_pair(source_access::live, SIZE_MAX);
    const auto pipeline = std::make_pair(source_access::pipeline, SIZE_MAX);
    // The next row is rewritten after it is read: old values, read in place.
    EXPECT_EQ(rows(256, 256, 4, 256, 64, 64), live);
    // The previous row, 16 lane groups back: its results have landed.
    EXPECT_EQ(rows(-256, 256, 4, 256, 64, 64), live);
    // One element further on the previous row is 15 groups back, and the
    // same row lies 63 elements behind (finished results, chunks of 63).
    EXPECT_EQ(rows(-252, 256, 4, 256, 64, 64), std::make_pair(source_access::live, size_t(63)));
    // One element behind: the previous row's last element is read one lane
    // group after it was computed, before it lands.
    EXPECT_EQ(rows(-4, 256, 4, 256, 64, 64), pipeline);
    // ... which in a single row is the old value throughout, from a copy.
    EXPECT_EQ(rows(-4, 256, 4, 256, 64, 1), std::make_pair(source_access::copy, SIZE_MAX));
    // 20 elements behind: the previous row's elements are 5 groups back.
    EXPECT_EQ(rows(-80, 256, 4, 256, 64, 64), std::make_pair(source_access::live, size_t(20)));
    // Rows of two lane groups: the previous row's last groups are still in
    // the pipeline when the next row starts; three rows back they are not.
    EXPECT_EQ(rows(-32, 32, 4, 32, 8, 16), pipeline);
    EXPECT_EQ(rows(-96, 32, 4, 32, 8, 16), live);
    // Rows of one lane group, three rows back: only three groups apart.
    EXPECT_EQ(rows(-48, 16, 4, 16, 4, 16), pipeline);
    // The same row at distances that differ from row to row, a half-word
    // source over word rows, and an overlap of half an element.
    EXPECT_EQ(rows(0, 252, 4, 256, 64, 64), pipeline);
    EXPECT_EQ(rows(256, 256, 2, 256, 64, 64), pipeline);
    EXPECT_EQ(rows(258, 256, 4, 256, 64, 64), pipeline);
    // Negative pitches: the previous row lies above.
    EXPECT_EQ(rows(256, -256, 4, -256, 64, 64), live);
}

// VMOV rows that are moves (every element reads the old source): values
// and flags, with flags other than 0 and 1 in the source, at every distance
// and at odd byte addresses, against the pipeline.
TEST_F(WholeRow, MovesAgreeWithThePipeline)
{
    const shape moves[] = {SHAPE_VV(1D_, VVWWS, 4, 4, 1, false), SHAPE_VV(1D_, VVHHU, 2, 2, 1, false),
                           SHAPE_VV(1D_, VVBBS, 1, 1, 1, false), SHAPE_VV(2D_, VVWWS, 4, 4, 2, false)};
    for (int lanes : {1, 4}) {
        init_lanes(lanes);
        for (const shape &s : moves) {
            for (int k = -40; k <= 40; ++k) {
                const int L = pick(1, 200);
                const int64_t a = base + (pick(0, 4) == 0 ? 1 : 0);
                const int64_t d = a + int64_t(k) * s.dst_size;
                set_2d(3, (L + 2) * s.dst_size, (L + 2) * s.src_size, 0);
                randomise();
                for (int64_t i = base - 3072; i < base + 3072; ++i)
                    state().flag_memory[i] = static_cast<uint8_t>(pick(0, 2) == 0 ? pick(2, 255) : 0);
                set_vl(uint32_t(L));
                compare(describe(s, VMOV, lanes, L, a, a, d),
                        [&] { s.issue(VMOV, sp(size_t(d)), sp(size_t(a)), 0, sp(size_t(a))); });
                if (testing::Test::HasFatalFailure())
                    return;
            }
        }
    }
}

// Rows longer than the whole-row path's chunks (1024 elements), on what
// that path treats on its own: the enumeration generated inside the
// element loop (it goes on across chunks and wraps in byte and half-word
// computations), accumulation summed without storing the results,
// conditional opcodes without a mask (their results blended into the
// destination, narrowed ones too), rows of one repeated result (a scalar
// VMOV), at aligned and odd destinations whose flags hold values other
// than 0 and 1, with sources that overlap the destination.
TEST_F(WholeRow, LongRowsAgreeWithThePipeline)
{
    const shape shapes[] = {
        SHAPE_SE(1D_, SEWWS, 4, 4, 1, false),           SHAPE_SE(1D_, SEBBU, 1, 1, 1, false),
        SHAPE_SE(1D_, SEHHS, 2, 2, 1, false),           SHAPE_SE(1D_, SEWBS, 4, 1, 1, false),
        SHAPE_SE(1D_, SEBWU, 1, 4, 1, false),           SHAPE_VE(1D_, VEWWU, 4, 4, 1, false),
        SHAPE_VE(1D_, VEBBS, 1, 1, 1, false),           SHAPE_VE(1D_, VEHBU, 2, 1, 1, false),
        SHAPE_SV(1D_, SVWBS, 4, 1, 1, false),           SHAPE_SV(1D_, SVHHU, 2, 2, 1, false),
        SHAPE_SV(1D_, SVWWS, 4, 4, 1, false),           SHAPE_VV(1D_, VVWWS, 4, 4, 1, false),
        SHAPE_VV(1D_, VVWBU, 4, 1, 1, false),           SHAPE_VV(1D_, VVBBS, 1, 1, 1, false),
        SHAPE_VV(1D_, VVHWU, 2, 4, 1, false),           SHAPE_VV(acc_1D_, VVWWS, 4, 4, 1, false),
        SHAPE_VV(acc_1D_, VVBBU, 1, 1, 1, false),       SHAPE_VV(acc_1D_, VVHHS, 2, 2, 1, false),
        SHAPE_VV(acc_1D_, VVWBS, 4, 1, 1, false),       SHAPE_SE(acc_1D_, SEWWU, 4, 4, 1, false),
        SHAPE_VE(acc_1D_, VEHHS, 2, 2, 1, false),       SHAPE_SV(acc_1D_, SVBWU, 1, 4, 1, false),
        SHAPE_SE(masked_1D_, SEHHU, 2, 2, 1, true),     SHAPE_VE(masked_1D_, VEWWS, 4, 4, 1, true),
        SHAPE_SV(masked_1D_, SVWBU, 4, 1, 1, true),     SHAPE_SE(masked_acc_1D_, SEHHS, 2, 2, 1, true),
        SHAPE_SV(masked_acc_1D_, SVBWU, 1, 4, 1, true),
    };
    constexpr int64_t a = 16384, far = 40960;
    reinit(4, 64, 1024);  // masks of up to 4096 elements
    for (int n = 0; n < 160; ++n) {
        const shape &s = shapes[size_t(n) % std::size(shapes)];
        const int lengths[] = {1023, 1024, 1025, 2048, 2049, pick(1026, 2600)};
        const int L = lengths[size_t(pick(0, 5))];
        const vinstr_t op = pick(0, 2) == 0   ? static_cast<vinstr_t>(pick(VCMV_LEZ, VCMV_NZ))
                            : pick(0, 4) == 0 ? VMOV
                                              : any_builtin();
        for (int64_t i = a - 12288; i < far + 12288; ++i) {
            const uint32_t r = static_cast<uint32_t>(rng());
            *sp(size_t(i)) = static_cast<uint8_t>(r);
            const uint32_t f = r >> 24;
            state().flag_memory[i] = static_cast<uint8_t>(f < 32 ? 1 : f < 48 ? f : 0);
        }
        if (s.masked)
            random_mask(pick(L - 30, L + 30));
        // B: A itself, a few elements off A, or apart; the destination apart,
        // on a source, a few elements off it or a few lane groups behind it.
        const int64_t b = pick(0, 2) == 0 ? a : pick(0, 1) ? a + pick(-9, 9) * s.src_size : far;
        const int k = pick(0, 3) == 0 ? 0 : pick(0, 1) ? pick(-9, 9) : pick(-40, -12);
        int64_t d = pick(0, 3) == 0 ? far + 12 * 1024 - L * s.dst_size : (pick(0, 1) ? a : b) + k * s.dst_size;
        if (pick(0, 5) == 0)
            d += 1;
        set_vl(uint32_t(L));
        const int32_t scalar = pick(0, 3) == 0 ? 0 : static_cast<int32_t>(rng());
        compare(describe(s, op, 4, L, a, b, d),
                [&] { s.issue(op, sp(size_t(d)), sp(size_t(a)), scalar, sp(size_t(b))); });
        if (testing::Test::HasFatalFailure())
            return;
    }
}

// Sources narrower than the computation, which the element loop converts as
// it reads them, and results narrower than the computation, which it
// narrows as it stores them, when the sources lie apart from the
// destination: every pair of types, every opcode (those reading source
// flags load them per chunk), rows shorter and longer than a chunk, sources
// apart, on the destination, overlapping it by a few elements, or an odd
// byte off.
TEST_F(WholeRow, ConversionsInTheElementLoopAgreeWithThePipeline)
{
    const shape shapes[] = {
        SHAPE_VV(1D_, VVBHS, 1, 2, 1, false), SHAPE_VV(1D_, VVBHU, 1, 2, 1, false),
        SHAPE_VV(1D_, VVBWS, 1, 4, 1, false), SHAPE_VV(1D_, VVBWU, 1, 4, 1, false),
        SHAPE_VV(1D_, VVHWS, 2, 4, 1, false), SHAPE_VV(1D_, VVHWU, 2, 4, 1, false),
        SHAPE_VV(2D_, VVBHU, 1, 2, 2, false), SHAPE_VV(2D_, VVHWS, 2, 4, 2, false),
        SHAPE_VV(1D_, VVHBS, 2, 1, 1, false), SHAPE_VV(1D_, VVHBU, 2, 1, 1, false),
        SHAPE_VV(1D_, VVWBS, 4, 1, 1, false), SHAPE_VV(1D_, VVWBU, 4, 1, 1, false),
        SHAPE_VV(1D_, VVWHS, 4, 2, 1, false), SHAPE_VV(1D_, VVWHU, 4, 2, 1, false),
        SHAPE_VV(2D_, VVHBU, 2, 1, 2, false), SHAPE_VV(2D_, VVWHS, 4, 2, 2, false),
        SHAPE_VV(3D_, VVBWU, 1, 4, 3, false), SHAPE_VV(3D_, VVWBS, 4, 1, 3, false),
    };
    constexpr int64_t a = 16384, far = 40960;
    reinit(4, 64, 1024);
    for (int n = 0; n < 480; ++n) {
        const shape &s = shapes[size_t(n) % std::size(shapes)];
        const vinstr_t op = static_cast<vinstr_t>(n / int(std::size(shapes)) % 24);
        const int lengths[] = {1, 63, 64, 200, 1023, 1025, pick(1026, 2600)};
        const int R = s.dim >= 2 ? pick(1, 4) : 1, M = s.dim == 3 ? pick(1, 3) : 1;
        const int L = std::min(lengths[size_t(pick(0, 6))], R * M > 1 ? 250 : 4096);
        for (int64_t i = a - 12288; i < far + 16384; ++i) {
            const uint32_t r = static_cast<uint32_t>(rng());
            *sp(size_t(i)) = static_cast<uint8_t>(r);
            state().flag_memory[i] = static_cast<uint8_t>((r >> 24) < 48 ? 1 : 0);
        }
        const int64_t b = pick(0, 2) == 0 ? a : far + pick(0, 3) * s.src_size + (pick(0, 5) == 0 ? 1 : 0);
        int64_t d = pick(0, 2) == 0 ? far + 8192 : pick(0, 1) ? a + pick(-9, 9) * s.dst_size : b;
        const int32_t stride = L * s.dst_size + (pick(0, 1) ? 0 : 2 * s.dst_size);
        set_2d(uint32_t(R), stride, L * s.src_size, L * s.src_size);
        set_3d(uint32_t(M), stride * R + (pick(0, 1) ? 0 : 4), L * s.src_size * R, L * s.src_size * R);
        set_vl(uint32_t(L));
        compare(describe(s, op, 4, L, a, b, d) + " rows " + std::to_string(R) + " mats " + std::to_string(M),
                [&] { s.issue(op, sp(size_t(d)), sp(size_t(a)), 0, sp(size_t(b))); });
        if (testing::Test::HasFatalFailure())
            return;
    }
}

// Rows whose every element gets the same result (VMOV of a scalar), masked
// or accumulating, at lengths around the mask counter's blocks and the
// wide loops' threshold, on both sides of the scratchpad's alignment.
TEST_F(WholeRow, UniformRowsAgreeWithThePipeline)
{
    const shape shapes[] = {
        SHAPE_SE(masked_1D_, SEHHU, 2, 2, 1, true),     SHAPE_SV(masked_1D_, SVWBS, 4, 1, 1, true),
        SHAPE_SE(masked_acc_1D_, SEHHS, 2, 2, 1, true), SHAPE_SV(masked_acc_1D_, SVBWU, 1, 4, 1, true),
        SHAPE_SE(masked_acc_1D_, SEWWS, 4, 4, 1, true), SHAPE_SE(acc_1D_, SEBBS, 1, 1, 1, false),
    };
    reinit(4, 64, 1024);  // masks of up to 4096 elements
    for (const shape &s : shapes) {
        for (int L : {1, 31, 64, 254, 255, 256, 511, 1024, 2049, 4096}) {
            randomise();
            if (s.masked)
                random_mask(L);
            set_vl(uint32_t(L));
            const int64_t d = base - 2048 + pick(0, 1);
            // Small scalars keep the sums from saturating, so every count shows.
            for (const int32_t scalar : {pick(-5, 5), static_cast<int32_t>(rng())})
                compare(describe(s, VMOV, 4, L, base, base, d),
                        [&] { s.issue(VMOV, sp(size_t(d)), nullptr, scalar, nullptr); });
            if (testing::Test::HasFatalFailure())
                return;
        }
    }
}

// Long mask set-ups and refinements (conditional opcodes narrowing into
// the mask memory) from byte, half-word and word sources.
TEST_F(WholeRow, LongMaskSetupsAgreeWithThePipeline)
{
    reinit(4, 64, 1024);
    const kmrsim_vmode_t modes[] = {V_VVBBS, V_VVBBU, V_VVHHS, V_VVHHU, V_VVWWS, V_VVWWU};
    for (int n = 0; n < 60; ++n) {
        const int L = pick(0, 1) ? pick(1020, 1030) : pick(1, 4096);
        for (int64_t i = 4096; i < 4096 + 4 * 4096; ++i) {
            *sp(size_t(i)) = pick(0, 2) == 0 ? 0 : static_cast<uint8_t>(rng());
            state().flag_memory[i] = static_cast<uint8_t>(pick(0, 3) == 0);
        }
        set_vl(uint32_t(L));
        const kmrsim_vmode_t mode = modes[size_t(pick(0, 5))];
        const vinstr_t condition = static_cast<vinstr_t>(pick(VCMV_LEZ, VCMV_NZ));
        const std::string what =
            "mode " + std::to_string(mode) + " condition " + std::to_string(condition) + " L " + std::to_string(L);
        compare(what, [&] { kmrsim_setup_mask(mode, condition, sp(4096)); });
        const size_t shifted = 4096 + size_t(pick(0, 8));
        compare(what + " refined", [&] { kmrsim_setup_mask_masked(mode, condition, sp(shifted)); });
        if (testing::Test::HasFatalFailure())
            return;
    }
}

// Two- and three-dimensional instructions whose rows follow one another
// without gaps, which the engine may run as one long row. Sources apart
// from the destination, the destination itself, or a few elements or rows
// off it (which must stay row by row); some shapes with the enumeration or
// accumulation, which count or sum per row. Transfers queued over the
// operands are completed by the instruction: what they bring in and carry
// out (copied into the scratchpad after the sync) must not depend on the
// path either.
TEST_F(WholeRow, GaplessRowsAgreeWithThePipeline)
{
    const shape shapes[] = {
        SHAPE_VV(2D_, VVWWS, 4, 4, 2, false),     SHAPE_VV(2D_, VVWBS, 4, 1, 2, false),
        SHAPE_VV(2D_, VVBBU, 1, 1, 2, false),     SHAPE_VV(2D_, VVBHU, 1, 2, 2, false),
        SHAPE_SV(2D_, SVHHS, 2, 2, 2, false),     SHAPE_VE(2D_, VEHHS, 2, 2, 2, false),
        SHAPE_SE(2D_, SEWWS, 4, 4, 2, false),     SHAPE_VV(3D_, VVWWS, 4, 4, 3, false),
        SHAPE_VV(3D_, VVHBU, 2, 1, 3, false),     SHAPE_VV(acc_2D_, VVWBS, 4, 1, 2, false),
        SHAPE_VE(acc_3D_, VEWWU, 4, 4, 3, false),
    };
    std::vector<uint8_t> host_in(512), host_out(512);
    for (size_t i = 0; i < host_in.size(); ++i)
        host_in[i] = static_cast<uint8_t>(i * 37 + 11);
    int merged_shapes = 0;
    for (int lanes : {1, 4}) {
        init_lanes(lanes);
        for (int n = 0; n < 300; ++n) {
            const shape &s = shapes[size_t(pick(0, int(std::size(shapes)) - 1))];
            const vinstr_t op = pick(0, 3) == 0 ? VMOV : any_builtin();
            const int L = pick(1, 40), R = pick(1, 5), M = s.dim == 3 ? pick(1, 3) : 1;
            const int ds = s.dst_size, ss = s.src_size;
            // Now and then one operand is a byte off gapless.
            auto stride = [&](int row_bytes) { return row_bytes + (pick(0, 7) == 0 ? 1 : 0); };
            const int32_t d2 = stride(L * ds), a2 = stride(L * ss), b2 = stride(L * ss);
            const int64_t d = base - 1024;
            auto source = [&]() -> int64_t {
                switch (pick(0, 3)) {
                case 0: return base + 2048 + pick(0, 3) * ss;        // apart
                case 1: return ss == ds ? d : base + 2048;           // the destination
                case 2: return d + int64_t(pick(-9, 9)) * ss;        // a few elements off
                default: return d + int64_t(pick(-1, 1)) * d2;       // a row off
                }
            };
            const int64_t a = source(), b = source();
            merged_shapes += d2 == L * ds && a2 == L * ss && b2 == L * ss;
            set_2d(uint32_t(R), d2, a2, b2);
            set_3d(uint32_t(M), d2 * R, a2 * R, b2 * R);
            set_vl(uint32_t(L));
            randomise();
            const int32_t scalar = static_cast<int32_t>(rng());
            // Up to three transfers over the operands, in either direction.
            struct transfer {
                bool to_host;
                int64_t at;
                size_t host, bytes;
            };
            std::vector<transfer> transfers;
            for (int t = pick(0, 3); t > 0; --t) {
                const int64_t around = pick(0, 2) == 0 ? d : pick(0, 1) ? a : b;
                transfers.push_back({pick(0, 1) == 1, around + pick(-64, 256), size_t(pick(0, 255)),
                                     size_t(pick(1, 256))});
            }
            compare(describe(s, op, lanes, L, a, b, d) + " rows " + std::to_string(R) + " mats " + std::to_string(M) +
                        " strides " + std::to_string(d2) + "/" + std::to_string(a2) + "/" + std::to_string(b2) +
                        " transfers " + std::to_string(transfers.size()),
                    [&] {
                        std::fill(host_out.begin(), host_out.end(), 0);
                        for (const transfer &t : transfers) {
                            if (t.to_host)
                                sim_dma_to_host(host_out.data() + t.host, sp(size_t(t.at)), t.bytes);
                            else
                                sim_dma_to_vector(sp(size_t(t.at)), host_in.data() + t.host, t.bytes);
                        }
                        s.issue(op, sp(size_t(d)), sp(size_t(a)), scalar, sp(size_t(b)));
                        kmr_sync();
                        std::memcpy(sp(512), host_out.data(), host_out.size());
                    });
            if (testing::Test::HasFatalFailure())
                return;
        }
    }
    EXPECT_GT(merged_shapes, 150);
}

// A DMA completion routine of the program's own is called for every row of
// every operand, even when the rows could run as one.
TEST_F(WholeRow, OwnCompletionRoutineSeesEveryRow)
{
    init_lanes(4);
    static std::vector<std::pair<uintptr_t, size_t>> calls;
    calls.clear();
    kmr_sim_t &s = state();
    const auto builtin = s.dma_until_hook;
    s.dma_until_hook = [](void *p, size_t len) {
        calls.emplace_back(reinterpret_cast<uintptr_t>(p), len);
        _internal_do_dma_until(p, len);
    };
    set_vl(16);
    set_2d(3, 64, 64, 64);
    kmrsim_2D_VVWWS(V_VVWWS, VADD, sp(4096), sp(1024), sp(2048));
    s.dma_until_hook = builtin;
    ASSERT_EQ(calls.size(), 9u);
    for (size_t r = 0; r < 3; ++r) {
        EXPECT_EQ(calls[3 * r].first, reinterpret_cast<uintptr_t>(sp(4096 + 64 * r)));
        EXPECT_EQ(calls[3 * r + 1].first, reinterpret_cast<uintptr_t>(sp(1024 + 64 * r)));
        EXPECT_EQ(calls[3 * r + 2].second, 64u);
    }
}
