// Mask setup, refinement and query, and masked instructions: which
// positions take part, the row length a mask fixes, counting and cycles,
// refused modes and lengths, and element results through the masked byte
// and half-word entry points.
#include <climits>
#include <cstdint>
#include <random>
#include <type_traits>

#include "sim_fixture.hpp"

using namespace simtest;

namespace {

class Mask : public SimTest {};
class MaskPaths : public BothPaths {};
class MaskDeathTest : public SimTest {};

int32_t *words(size_t off)
{
    return reinterpret_cast<int32_t *>(sp(off));
}
uint8_t *mask()
{
    return state().mask_memory;
}

void expect_mask(std::initializer_list<int> bytes)
{
    int i = 0;
    for (int m : bytes) {
        EXPECT_EQ(mask()[i], m) << "mask byte " << i;
        ++i;
    }
}

uint32_t query()
{
    uint32_t status = 0xDEADBEEF;
    kmr_get_mask(&status);
    return status;
}

void expect_cycles(vinstr_t op, std::array<uint32_t, 9> expected)
{
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(get_the_kmrsim()->stats.cycle_count[op][i], expected[size_t(i)]) << "configuration " << i;
}

}  // namespace

// A fresh setup is two instructions: a VMOV clearing the mask, then the
// condition; both charged with the source width as element size.
TEST_F(Mask, FreshSetupRunsAClearingMoveAndTheCondition)
{
    int32_t *w = words(1024);
    const int32_t values[10] = {3, -1, 0, 5, -7, 0, 2, INT_MIN, INT_MAX, 1};
    for (int i = 0; i < 10; ++i)
        w[i] = values[i];
    set_vl(12);
    kmrsim_setup_mask(V_VVWWS, VCMV_NZ, w);  // bytes 10, 11 become something first
    set_vl(10);
    kmrsim_reset_stats();
    kmrsim_setup_mask(V_SEWWS, VCMV_GTZ, w);
    expect_mask({1, 0, 0, 1, 0, 0, 1, 0, 1, 1});
    EXPECT_EQ(state().mask_length, 10);
    EXPECT_EQ(stats().instruction_count[VMOV], 1u);
    EXPECT_EQ(stats().instruction_count[VCMV_GTZ], 1u);
    expect_cycles(VMOV, {10, 5, 3, 2, 1, 1, 1, 1, 1});
    expect_cycles(VCMV_GTZ, {10, 5, 3, 2, 1, 1, 1, 1, 1});

    // The same values as bytes and half-words give the same mask, charged
    // with their own element size.
    int8_t *b = reinterpret_cast<int8_t *>(sp(4096));
    int16_t *h = reinterpret_cast<int16_t *>(sp(8192));
    for (int i = 0; i < 10; ++i) {
        b[i] = static_cast<int8_t>(values[i] > 0 ? 1 : values[i] < 0 ? -1 : 0);
        h[i] = static_cast<int16_t>(b[i] * 300);
    }
    kmrsim_reset_stats();
    kmrsim_setup_mask(V_VEBBS, VCMV_GTZ, b);
    expect_mask({1, 0, 0, 1, 0, 0, 1, 0, 1, 1});
    expect_cycles(VMOV, {3, 2, 1, 1, 1, 1, 1, 1, 1});
    kmrsim_reset_stats();
    kmrsim_setup_mask(V_SVHHS, VCMV_GTZ, h);
    expect_mask({1, 0, 0, 1, 0, 0, 1, 0, 1, 1});
    expect_cycles(VCMV_GTZ, {5, 3, 2, 1, 1, 1, 1, 1, 1});

    // Unsigned sources: nothing is below zero.
    kmrsim_setup_mask(V_VVHHU, VCMV_GTZ, h);
    expect_mask({1, 1, 0, 1, 1, 0, 1, 1, 1, 1});
}

// Refinement runs the inverted condition under the current mask, over the
// length that mask was built for; the result is old mask AND condition.
TEST_F(Mask, RefinementAndsTheConditionIntoTheMask)
{
    int32_t *w = words(1024), *v = words(2048);
    const int32_t first[8] = {1, 1, 1, 1, 0, 0, 1, 1};
    const int32_t second[8] = {5, -5, 5, -5, 5, 5, -5, 5};
    for (int i = 0; i < 8; ++i) {
        w[i] = first[i];
        v[i] = second[i];
    }
    set_vl(8);
    kmrsim_setup_mask(V_VVWWS, VCMV_NZ, w);
    kmrsim_reset_stats();
    kmrsim_setup_mask_masked(V_VVWWS, VCMV_GTZ, v);
    expect_mask({1, 0, 1, 0, 0, 0, 0, 1});
    EXPECT_EQ(stats().instruction_count[VCMV_LEZ], 1u);
    EXPECT_EQ(stats().instruction_count[VCMV_GTZ], 0u);
    EXPECT_EQ(stats().instruction_count[VMOV], 0u);
    expect_cycles(VCMV_LEZ, {8, 4, 2, 1, 1, 1, 1, 1, 1});

    kmrsim_setup_mask_masked(V_VVWWS, VCMV_Z, w);  // inverted to VCMV_NZ
    expect_mask({0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(stats().instruction_count[VCMV_NZ], 1u);
}

TEST_F(Mask, RefinementAfterTheVectorLengthGrewCoversTheOldLength)
{
    int32_t *ones = words(1024);
    for (int i = 0; i < 12; ++i)
        ones[i] = 1;
    set_vl(12);
    kmrsim_setup_mask(V_VVWWS, VCMV_NZ, ones);
    set_vl(8);
    kmrsim_setup_mask(V_VVWWS, VCMV_NZ, ones);
    EXPECT_EQ(state().mask_length, 8);

    // Eight words at the very end of the scratchpad: the refinement reads
    // only those, although the vector length is now 12.
    int32_t *negatives = reinterpret_cast<int32_t *>(static_cast<uint8_t *>(state().tqm.scratchpad_end) - 32);
    for (int i = 0; i < 8; ++i)
        negatives[i] = -1;
    set_vl(12);
    kmrsim_setup_mask_masked(V_VVWWS, VCMV_GTZ, negatives);
    expect_mask({0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1});
    EXPECT_EQ(state().mask_length, 12);
    EXPECT_EQ(query() & 1u, 1u);  // bytes 8..11 are inside the new length
}

TEST_F(Mask, QueryReportsAnyEnabledPositionAndWhetherItWasRead)
{
    EXPECT_EQ(query() & 1u, 0u);  // no setup since initialisation: length 0
    int32_t *w = words(1024);
    for (int i = 0; i < 6; ++i)
        w[i] = -i;
    set_vl(6);
    kmrsim_setup_mask(V_VVWWS, VCMV_GTZ, w);
    EXPECT_EQ(query(), 0u);
    EXPECT_EQ(query(), 0x80000000u);
    w[5] = 3;
    kmrsim_setup_mask(V_VVWWS, VCMV_GTZ, w);
    EXPECT_EQ(query(), 1u);
    EXPECT_EQ(query(), 0x80000001u);
    kmrsim_setup_mask_masked(V_VVWWS, VCMV_Z, w);
    EXPECT_EQ(query(), 0u);
}

// 1, 0, 1, 0, ... over ten elements: only the even positions take part.
TEST_P(MaskPaths, MaskedInstructionWritesOnlyEnabledPositions)
{
    int32_t *src = words(1024), *a = words(2048);
    for (int i = 0; i < 12; ++i) {
        src[i] = (i + 1) % 2;
        a[i] = 100 + i;
        put_flag<int32_t>(a, size_t(i), 1);
    }
    set_vl(10);
    kmrsim_setup_mask(V_VVWWS, VCMV_NZ, src);
    kmrsim_masked_1D_SEWWS(V_SEWWS, VADD, a, 1, 0);
    for (int i = 0; i < 10; i += 2) {
        EXPECT_EQ(a[i], i + 1);
        EXPECT_EQ(flag<int32_t>(a, size_t(i)), 0);
        EXPECT_EQ(a[i + 1], 101 + i);
        EXPECT_EQ(flag<int32_t>(a, size_t(i + 1)), 1);
    }

    // A word-data mask gates a byte destination element for element.
    int8_t *bytes = reinterpret_cast<int8_t *>(sp(4096));
    for (int i = 0; i < 12; ++i)
        bytes[i] = -1;
    kmrsim_masked_1D_SEBBS(V_SEBBS, VMOV, bytes, 5, 0);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(bytes[i], i < 10 && i % 2 == 0 ? 5 : -1) << i;

    // A masked conditional move whose condition fails writes nothing either.
    int32_t *b = words(8192);
    for (int i = 0; i < 10; ++i)
        b[i] = i < 5 ? 0 : 1;
    kmrsim_masked_1D_SVWWS(V_SVWWS, VCMV_Z, a, -9, b);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(a[i], i % 2 == 0 && i < 5 ? -9 : i % 2 == 0 ? i + 1 : 100 + i) << i;
}

// After the vector length changes without a new setup, masked instructions
// still cover the mask's length, but are charged for the vector length.
TEST_P(MaskPaths, MaskedRowLengthIsTheMasksLength)
{
    int32_t *ones = words(1024), *d = words(2048);
    for (int i = 0; i < 20; ++i) {
        ones[i] = 1;
        d[i] = -1;
    }
    set_vl(20);
    kmrsim_setup_mask(V_VVWWS, VCMV_NZ, ones);
    set_vl(8);
    kmrsim_setup_mask(V_VVWWS, VCMV_NZ, ones);
    set_vl(20);
    kmrsim_reset_stats();
    kmrsim_masked_1D_SEWWS(V_SEWWS, VADD, d, 0, 0);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(d[i], i < 8 ? i : -1) << i;
    expect_cycles(VADD, {20, 10, 5, 3, 2, 1, 1, 1, 1});
}

TEST_P(MaskPaths, MaskedAccumulationSumsEnabledPositions)
{
    int32_t *d = words(2048);
    d[0] = 77;
    put_flag<int32_t>(d, 0, 1);
    set_vl(10);
    kmrsim_masked_acc_1D_SEWWS(V_SEWWS, VADD, d, 0, 0);  // no mask yet: length 0
    EXPECT_EQ(d[0], 0);
    EXPECT_EQ(flag<int32_t>(d, 0), 0);

    int32_t *src = words(1024);
    for (int i = 0; i < 10; ++i)
        src[i] = i % 3 == 0;
    kmrsim_setup_mask(V_VVWWS, VCMV_NZ, src);
    kmrsim_masked_acc_1D_SEWWS(V_SEWWS, VADD, d, 100, 0);
    EXPECT_EQ(d[0], 400 + 0 + 3 + 6 + 9);
}

// The SE form reads no vector, so its source letter changes nothing.
TEST_F(Mask, SourceLetterOfTheSEFormHasNoEffect)
{
    int32_t *src = words(1024);
    for (int i = 0; i < 40; ++i)
        src[i] = i % 5 != 1;
    set_vl(40);
    kmrsim_setup_mask(V_VVWWS, VCMV_NZ, src);
    const image start = snapshot();

    auto run = [&](auto entry) {
        restore(start);
        kmrsim_reset_stats();
        entry(sp(4096));
        return std::pair{snapshot(), stats()};
    };
    const auto wb = run([](void *d) { kmrsim_masked_1D_SEWBS(V_SEWBS, VSUB, d, 300, 0); });
    const auto bb = run([](void *d) { kmrsim_masked_1D_SEBBS(V_SEBBS, VSUB, d, 300, 0); });
    const auto hb = run([](void *d) { kmrsim_masked_1D_SEHBS(V_SEHBS, VSUB, d, 300, 0); });
    EXPECT_TRUE(wb.first == bb.first) << first_difference(wb.first, bb.first);
    EXPECT_TRUE(hb.first == bb.first) << first_difference(hb.first, bb.first);
    EXPECT_TRUE(same_stats(wb.second, bb.second));
    EXPECT_TRUE(same_stats(hb.second, bb.second));
    EXPECT_EQ(static_cast<int8_t>(*sp(4096 + 2)), 44 - 2);
    EXPECT_FALSE(wb.first == start);
}

TEST_F(MaskDeathTest, VectorLengthAboveTheMaskMemoryAborts)
{
    int32_t *src = words(1024);
    const int max = state().tqm.max_masked_vector_length;
    ASSERT_EQ(max, 1024);
    for (int i = 0; i < max; ++i)
        src[i] = 1;
    set_vl(uint32_t(max));
    kmrsim_setup_mask(V_VVWWS, VCMV_NZ, src);
    EXPECT_EQ(state().mask_length, max);
    EXPECT_EQ(mask()[max - 1], 1);

    set_vl(uint32_t(max + 1));
    EXPECT_DEATH(kmrsim_setup_mask(V_VVWWS, VCMV_NZ, src), "current_vector_length <= max_masked_vector_length");
    EXPECT_DEATH(kmrsim_setup_mask_masked(V_VVWWS, VCMV_NZ, src), "current_vector_length <= max_masked_vector_length");
}

TEST_F(MaskDeathTest, SetupFromDifferingWidthsAborts)
{
    set_vl(4);
    const char *expr = R"("TYPE CONVERSION NOT SUPPORTED FOR MASKED SETUP\\n" && 0)";
    EXPECT_DEATH(kmrsim_setup_mask(V_SVBHS, VCMV_NZ, sp(1024)), expr);
    EXPECT_DEATH(kmrsim_setup_mask(V_VVWBS, VCMV_NZ, sp(1024)), expr);
    EXPECT_DEATH(kmrsim_setup_mask_masked(V_VVWBS, VCMV_NZ, sp(1024)), expr);
}

// Without mask memory there is nothing to set up or to mask with.
TEST_F(Mask, WithoutMaskMemorySetupAndMaskedInstructionsAreRefused)
{
    reinit(4, 64, 0);
    set_vl(8);
    const image before = snapshot();
    const kmrsim_stats_t st = stats();
    const std::string err = stderr_of([] {
        kmrsim_setup_mask(V_VVWWS, VCMV_NZ, words(1024));
        kmrsim_setup_mask_masked(V_VVWWS, VCMV_NZ, words(1024));
        kmrsim_masked_1D_SEWWS(V_SEWWS, VADD, words(2048), 1, 0);
        kmrsim_masked_acc_1D_VVBBU(V_VVBBU, VADD, sp(4096), sp(4096), sp(4096));
    });
    // Four refusals; the two of instructions are each followed by the line
    // that names the instruction.
    size_t errors = 0, named = 0;
    for (size_t p = err.find("Error: "); p != std::string::npos; p = err.find("Error: ", p + 1))
        ++(err.compare(p, 16, "Error: refused: ") == 0 ? named : errors);
    EXPECT_EQ(errors, 4u) << err;
    EXPECT_EQ(named, 2u) << err;
    EXPECT_TRUE(snapshot() == before);
    EXPECT_TRUE(same_stats(stats(), st));
    EXPECT_EQ(query() & 1u, 0u);
}

// ---------------------------------------------------------------------------
// Element results through masked byte and half-word entry points, against
// an independent statement of each operation.

namespace {

template <typename T>
struct elem {
    T value;
    T flag;
};

template <typename T>
T wrap(int64_t x)
{
    return static_cast<T>(x);  // modulo 2^W
}

template <typename T>
elem<T> expected_op(vinstr_t op, T a, T b, unsigned n)
{
    constexpr bool sgn = std::is_signed_v<T>;
    constexpr int W = int(sizeof(T)) * 8;
    const int64_t lo = std::numeric_limits<T>::min(), hi = std::numeric_limits<T>::max();
    const int64_t A = a, B = b;
    auto out_of_range = [&](int64_t x) { return T(x < lo || x > hi); };
    auto neg = [](T v) { return v < 0; };
    switch (op) {
    case VADD: return {wrap<T>(A + B), out_of_range(A + B)};
    case VSUB: return {wrap<T>(A - B), out_of_range(A - B)};
    case VMUL: {
        const T r = wrap<T>(A * B);
        if constexpr (sgn)
            return {r, T(neg(r) != (neg(a) != neg(b)))};
        else
            return {r, out_of_range(A * B)};
    }
    case VSHR: {
        const int k = int(A & 31);
        const int64_t wide = B;  // sign- or zero-extended, like B widened to 32 bits
        const T f = A == 0 ? T(0) : T((wide >> ((A - 1) & 31)) & 1);
        return {wrap<T>(wide >> k), f};
    }
    case VMULFXP: {
        const int64_t p = A * B + (int64_t(1) << (n - 1));
        const int64_t r = p >> n;  // floor
        if constexpr (sgn) {
            if (r > hi)
                return {T(hi), 1};
            if (r < lo)
                return {T(lo), 1};
            return {T(r), 0};
        } else {
            if (p >= (int64_t(1) << (n + W)))
                return {T(hi), 1};
            return {T(r), 0};
        }
    }
    default: ADD_FAILURE() << "no expectation for opcode " << op; return {0, 0};
    }
}

// Narrowing of a result computed in S to the destination D.
template <typename D, typename S>
D narrow(vinstr_t op, S v)
{
    if (sizeof(D) < sizeof(S) && op == VMULFXP) {
        if (v > S(std::numeric_limits<D>::max()))
            return std::numeric_limits<D>::max();
        if (std::is_signed_v<S> && v < S(std::numeric_limits<D>::min()))
            return std::numeric_limits<D>::min();
    }
    return static_cast<D>(v);
}

using masked_vv = void (*)(kmrsim_vmode_t, vinstr_t, void *, void *, void *);

template <typename D, typename S>
void check_masked_entry(const char *name, masked_vv entry, unsigned frac, std::mt19937 &rng)
{
    constexpr int L = 64;
    S *a = reinterpret_cast<S *>(sp(4096));
    S *b = reinterpret_cast<S *>(sp(8192));
    D *d = reinterpret_cast<D *>(sp(12288));
    const S specials[] = {0, 1, S(-1), std::numeric_limits<S>::min(), std::numeric_limits<S>::max(), 2, 7, S(8)};
    for (vinstr_t op : {VADD, VSUB, VMUL, VSHR, VMULFXP}) {
        for (int i = 0; i < L; ++i) {
            a[i] = (rng() & 3) == 0 ? specials[rng() % 8] : static_cast<S>(rng());
            b[i] = (rng() & 3) == 0 ? specials[rng() % 8] : static_cast<S>(rng());
        }
        entry(V_SEBBS, op, d, a, b);
        for (int i = 0; i < L; ++i) {
            const elem<S> e = expected_op<S>(op, a[i], b[i], frac);
            ASSERT_EQ(+d[i], +(narrow<D, S>(op, e.value))) << name << " op " << op << ": a " << +a[i] << " b " << +b[i];
            ASSERT_EQ(+flag<D>(d, size_t(i)), +D(e.flag)) << name << " op " << op << ": a " << +a[i] << " b " << +b[i];
        }
    }
}

}  // namespace

TEST_F(Mask, MaskedByteAndHalfWordEntryPointsComputeElementResults)
{
    int32_t *zeros = words(1024);
    for (int i = 0; i < 64; ++i)
        zeros[i] = 0;
    set_vl(64);
    kmrsim_setup_mask(V_VVWWS, VCMV_Z, zeros);  // every position enabled
    std::mt19937 rng(77);
    const unsigned byte_frac = 4, half_frac = 5;
    check_masked_entry<int8_t, int8_t>("VVBBS", kmrsim_masked_1D_VVBBS, byte_frac, rng);
    check_masked_entry<uint8_t, uint8_t>("VVBBU", kmrsim_masked_1D_VVBBU, byte_frac, rng);
    check_masked_entry<int16_t, int16_t>("VVHHS", kmrsim_masked_1D_VVHHS, half_frac, rng);
    check_masked_entry<uint16_t, uint16_t>("VVHHU", kmrsim_masked_1D_VVHHU, half_frac, rng);
    check_masked_entry<int8_t, int16_t>("VVHBS", kmrsim_masked_1D_VVHBS, half_frac, rng);
    check_masked_entry<uint8_t, uint16_t>("VVHBU", kmrsim_masked_1D_VVHBU, half_frac, rng);
}

INSTANTIATE_TEST_SUITE_P(, MaskPaths, testing::Bool(), path_name);
