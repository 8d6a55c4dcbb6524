// Vector library against the flat interface: differences are subtractions,
// swapped operands change nothing, every opcode and named function issues
// the entry point it should, the signedness rule, comparisons and select,
// and a vector length or 2D/3D setting made behind the library's back.
#include <limits>
#include <tuple>
#include <utility>

#include "vector_lib_fixture.hpp"

using namespace KMR;
using namespace vlt;
using V = std::vector<long long>;

namespace {

class VectorExact : public LibTest {};

TEST_F(VectorExact, SubtractingAScalarIsASubtractionFlagsIncluded)
{
    Vector<uint16_t> x(4), d(4), e(4);
    fill(x, {3, 5, 10, 0});
    d = x - 5;
    EXPECT_EQ(values(d), (V{65534, 0, 5, 65531}));
    EXPECT_EQ(flags(d), (V{1, 0, 0, 1}));  // borrows
    e = 0;
    KMR_WHERE(d, VCMV_LTZ)
    {
        e = 1;
    }
    EXPECT_EQ(values(e), (V{1, 0, 0, 1}));

    // Signed: subtracting the most negative value overflows exactly where x
    // is non-negative.
    Vector<int16_t> s(4), t(4);
    fill(s, {-1, 0, 5, -32768});
    t = s - INT16_MIN;
    EXPECT_EQ(values(t), (V{32767, -32768, -32763, 0}));
    EXPECT_EQ(flags(t), (V{0, 1, 1, 0}));
    t = ENUM - 2;
    EXPECT_EQ(values(t), (V{-2, -1, 0, 1}));
    Vector<uint8_t> u(4);
    u = ENUM - 2;
    EXPECT_EQ(values(u), (V{254, 255, 0, 1}));
    EXPECT_EQ(flags(u), (V{1, 1, 0, 0}));

    // The flat form: the scalar (operand B, resolved first) into a temporary
    // at the free end of the scratchpad, ENUM into the next one, then VSUB.
    int16_t *const tmp_b = static_cast<int16_t *>(kmr_sp_get());
    int16_t *const tmp_a = tmp_b + 8;  // 4 elements, padded to the 16-byte granule
    expect_same([&] { t = s - 1234; },
                [&] {
                    kmr_SVHHS(VMOV, tmp_b, 1234, nullptr);
                    kmr_VVHHS(VSUB, t.data, s.data, tmp_b);
                });
    expect_same([&] { t = ENUM - 3; },
                [&] {
                    kmr_SVHHS(VMOV, tmp_b, 3, nullptr);
                    kmr_SEHHS(VADD, tmp_a, 0, nullptr);
                    kmr_VVHHS(VSUB, t.data, tmp_a, tmp_b);
                });
    expect_same([&] { t = vsubfxp(s, 7); },
                [&] {
                    kmr_SVHHS(VMOV, tmp_b, 7, nullptr);
                    kmr_VVHHS(VSUBFXP, t.data, s.data, tmp_b);
                });
}

// A commutative opcode issued with its operands swapped (scalar as A, ENUM
// as B) gives the values and flags of the written order.
template <vinstr_t OP, typename T>
void swapped_is_written_order(std::mt19937 &rng)
{
    SCOPED_TRACE(std::string(kmrsim_opcode_name(OP)) + " on " + std::to_string(sizeof(T) * 8) +
                 (std::is_signed<T>::value ? " signed" : " unsigned"));
    const int n = 19;
    Vector<T> v(n), w(n), d1(n), d2(n);
    randomize(v, n, rng);
    const long long lo = std::numeric_limits<T>::min(), hi = std::numeric_limits<T>::max();
    for (long long s : {0LL, 1LL, -1LL, lo, hi, 3LL}) {
        w = static_cast<kmr_word_t>(s);
        d1 = _internal::make_op<OP>(v, s);  // issued as OP(s, v)
        d2 = op<OP>(v, w);
        EXPECT_EQ(values(d1), values(d2)) << "scalar " << s;
        EXPECT_EQ(flags(d1), flags(d2)) << "scalar " << s;
    }
    w = ENUM;
    d1 = _internal::make_op<OP>(ENUM, v);  // issued as OP(v, ENUM)
    d2 = op<OP>(w, v);
    EXPECT_EQ(values(d1), values(d2));
    EXPECT_EQ(flags(d1), flags(d2));
}

template <typename T>
void every_commutative_opcode(std::mt19937 &rng)
{
    swapped_is_written_order<VADD, T>(rng);
    swapped_is_written_order<VMUL, T>(rng);
    swapped_is_written_order<VMULHI, T>(rng);
    swapped_is_written_order<VMULFXP, T>(rng);
    swapped_is_written_order<VADDFXP, T>(rng);
    swapped_is_written_order<VABSDIFF, T>(rng);
    swapped_is_written_order<VAND, T>(rng);
    swapped_is_written_order<VOR, T>(rng);
    swapped_is_written_order<VXOR, T>(rng);
}

TEST_F(VectorExact, SwappedOperandsGiveTheValuesAndFlagsOfTheWrittenOrder)
{
    std::mt19937 rng(7);
    kmr_set_vl(19);
    every_commutative_opcode<int8_t>(rng);
    every_commutative_opcode<uint8_t>(rng);
    every_commutative_opcode<int16_t>(rng);
    every_commutative_opcode<uint16_t>(rng);
    every_commutative_opcode<int32_t>(rng);
    every_commutative_opcode<uint32_t>(rng);
}

// Every opcode but VMOV, in every operand form, against its entry point.
void bytewise_custom(kmrsim_custom_args *x)
{
    const int bytes = 4 * 4;  // 4 lanes of 32 bits
    for (int i = 0; i < bytes; ++i) {
        static_cast<uint8_t *>(x->out)[i] = static_cast<uint8_t>(
            static_cast<uint8_t *>(x->a)[i] ^ static_cast<uint8_t *>(x->b)[i] ^ static_cast<uint8_t>(x->opcode_select));
        static_cast<uint8_t *>(x->out_flag)[i] = static_cast<uint8_t>(i & 1);
    }
}

template <typename T, vinstr_t OP>
void opcode_matches_entry_point(Vector<T> &d, const Vector<T> &a, const Vector<T> &b)
{
    SCOPED_TRACE(kmrsim_opcode_name(OP));
    using F = flat<T>;
    const kmr_word_t s = -77;
    expect_same([&] { d = op<OP>(a, b); }, [&] { F::vv(OP, d.data, a.data, b.data); });
    expect_same([&] { d = op<OP>(a, ENUM); }, [&] { F::ve(OP, d.data, a.data); });
    expect_same([&] { d = op<OP>(s, b); }, [&] { F::sv(OP, d.data, s, b.data); });
    expect_same([&] { d = op<OP>(s, ENUM); }, [&] { F::se(OP, d.data, s); });
}

template <typename T, size_t... I>
void every_opcode(std::index_sequence<I...>)
{
    SCOPED_TRACE(std::to_string(sizeof(T) * 8) + (std::is_signed<T>::value ? " signed" : " unsigned"));
    const int n = 23;
    std::mt19937 rng(11);
    Vector<T> d(n), a(n), b(n);
    randomize(a, n, rng);
    randomize(b, n, rng);
    randomize(d, n, rng);
    kmr_set_vl(n);
    (opcode_matches_entry_point<T, static_cast<vinstr_t>(I + 1)>(d, a, b), ...);
}

TEST_F(VectorExact, EveryOpcodeInEveryFormIssuesItsEntryPoint)
{
    kmrsim_set_custom_instruction(VCUSTOM0, 16, 4, bytewise_custom);
    using ops = std::make_index_sequence<MAX_INSTR_VAL>;  // opcodes 1 .. 39
    every_opcode<int8_t>(ops());
    every_opcode<uint8_t>(ops());
    every_opcode<int16_t>(ops());
    every_opcode<uint16_t>(ops());
    every_opcode<int32_t>(ops());
    every_opcode<uint32_t>(ops());
}

// Each named function and operator against the instruction it should issue
// (operand A and operand B of the flat call as the function documents).
template <typename T>
void named_functions_and_operators()
{
    SCOPED_TRACE(std::to_string(sizeof(T) * 8) + (std::is_signed<T>::value ? " signed" : " unsigned"));
    using F = flat<T>;
    const int n = 13;
    std::mt19937 rng(3);
    Vector<T> d(n), a(n), b(n);
    randomize(a, n, rng);
    randomize(b, n, rng);
    kmr_set_vl(n);
    T *const D = d.data, *const A = a.data, *const B = b.data;
#define VLT_SAME(lib, flat_call) expect_same([&] { d = lib; }, [&] { flat_call; })
    VLT_SAME(vadd(a, b), F::vv(VADD, D, A, B));
    VLT_SAME(vsub(a, b), F::vv(VSUB, D, A, B));
    VLT_SAME(vmul(a, b), F::vv(VMUL, D, A, B));
    VLT_SAME(vmullo(a, 5), F::sv(VMUL, D, 5, A));
    VLT_SAME(vmulhi(a, b), F::vv(VMULHI, D, A, B));
    VLT_SAME(vmulfxp(a, b), F::vv(VMULFXP, D, A, B));
    VLT_SAME(vaddfxp(a, 9), F::sv(VADDFXP, D, 9, A));
    VLT_SAME(vsubfxp(9, a), F::sv(VSUBFXP, D, 9, A));
    VLT_SAME(vabsdiff(a, b), F::vv(VABSDIFF, D, A, B));
    VLT_SAME(vand(a, b), F::vv(VAND, D, A, B));
    VLT_SAME(vor(ENUM, a), F::ve(VOR, D, A));
    VLT_SAME(vxor(a, b), F::vv(VXOR, D, A, B));
    VLT_SAME(vshl(a, 3), F::sv(VSHL, D, 3, A));
    VLT_SAME(vshr(a, b), F::vv(VSHR, D, B, A));
    VLT_SAME(vrotl(ENUM, 2), F::se(VROTL, D, 2));
    VLT_SAME(vrotr(a, 5), F::sv(VROTR, D, 5, A));
    VLT_SAME(vaddc(a, b), F::vv(VADDC, D, A, B));
    VLT_SAME(vsubb(a, b), F::vv(VSUBB, D, A, B));
    VLT_SAME(vcmv_lez(a, b), F::vv(VCMV_LEZ, D, A, B));
    VLT_SAME(vcmv_gtz(a, b), F::vv(VCMV_GTZ, D, A, B));
    VLT_SAME(vcmv_ltz(4, b), F::sv(VCMV_LTZ, D, 4, B));
    VLT_SAME(vcmv_gez(a, b), F::vv(VCMV_GEZ, D, A, B));
    VLT_SAME(vcmv_z(a, ENUM), F::ve(VCMV_Z, D, A));
    VLT_SAME(vcmv_nz(a, b), F::vv(VCMV_NZ, D, A, B));
    VLT_SAME(vcustom<5>(a, b), F::vv(VCUSTOM5, D, A, B));
    VLT_SAME(vmov(a), F::vv(VMOV, D, A, nullptr));
    VLT_SAME(as_vector(a), F::vv(VMOV, D, A, nullptr));
    VLT_SAME(a + b, F::vv(VADD, D, A, B));
    VLT_SAME(3 + a, F::sv(VADD, D, 3, A));
    VLT_SAME(a - b, F::vv(VSUB, D, A, B));
    VLT_SAME(5 - a, F::sv(VSUB, D, 5, A));
    VLT_SAME(a - ENUM, F::ve(VSUB, D, A));
    VLT_SAME(a * 3, F::sv(VMUL, D, 3, A));
    VLT_SAME(a & b, F::vv(VAND, D, A, B));
    VLT_SAME(a | 6, F::sv(VOR, D, 6, A));
    VLT_SAME(ENUM ^ a, F::ve(VXOR, D, A));
    VLT_SAME(a << b, F::vv(VSHL, D, B, A));
    VLT_SAME(a >> 2, F::sv(VSHR, D, 2, A));
    VLT_SAME(ENUM << a, F::ve(VSHL, D, A));
    VLT_SAME(-a, F::sv(VSUB, D, 0, A));
    VLT_SAME(~a, F::sv(VXOR, D, -1, A));
#undef VLT_SAME
    // as_vector lifts a scalar or ENUM into a temporary where no form reads it.
    T *const tmp = static_cast<T *>(kmr_sp_get());
    expect_same([&] { d = as_vector(ENUM) - a; },
                [&] {
                    F::se(VADD, tmp, 0);
                    F::vv(VSUB, D, tmp, A);
                });
    expect_same([&] { d = as_vector(2) << a; },
                [&] {
                    F::sv(VMOV, tmp, 2, nullptr);
                    F::vv(VSHL, D, A, tmp);
                });
    expect_same([&] { d += b; }, [&] { F::vv(VADD, D, D, B); });
    expect_same([&] { d -= b; }, [&] { F::vv(VSUB, D, D, B); });
    expect_same([&] { d <<= 1; }, [&] { F::sv(VSHL, D, 1, D); });
}

TEST_F(VectorExact, NamedFunctionsAndOperatorsIssueTheirOpcode)
{
    kmrsim_set_custom_instruction(VCUSTOM0, 16, 4, bytewise_custom);
    named_functions_and_operators<int16_t>();
    named_functions_and_operators<uint8_t>();
    named_functions_and_operators<int32_t>();
}

// ---------------------------------------------------------------------------
// Signedness.

template <typename From, typename To>
void copy_gives_the_converted_value()
{
    SCOPED_TRACE(std::to_string(sizeof(From) * 8) + (std::is_signed<From>::value ? "s" : "u") + " -> " +
                 std::to_string(sizeof(To) * 8) + (std::is_signed<To>::value ? "s" : "u"));
    const int n = 9;
    std::mt19937 rng(5);
    Vector<From> a(n), b(n);
    Vector<To> d(n);
    randomize(a, n, rng);
    randomize(b, n, rng);
    d = a;
    const V av = values(a), bv = values(b), dv = values(d);
    for (size_t i = 0; i < av.size(); ++i) {
        // The mathematical value where To holds it, else the value modulo 2^width.
        EXPECT_EQ(dv[i], static_cast<To>(av[i])) << "copy of " << av[i];
    }
    using U = unsigned long long;
    auto wrapped = [](U x) { return static_cast<long long>(static_cast<To>(x)); };
    d = a + b;
    for (size_t i = 0; i < av.size(); ++i)
        EXPECT_EQ(values(d)[i], wrapped(U(av[i]) + U(bv[i]))) << av[i] << " + " << bv[i];
    d = a - b;
    for (size_t i = 0; i < av.size(); ++i)
        EXPECT_EQ(values(d)[i], wrapped(U(av[i]) - U(bv[i]))) << av[i] << " - " << bv[i];
    d = a * b;
    for (size_t i = 0; i < av.size(); ++i)
        EXPECT_EQ(values(d)[i], wrapped(U(av[i]) * U(bv[i]))) << av[i] << " * " << bv[i];
}

template <typename From, typename... To>
void from_one_type(std::tuple<To...>)
{
    (copy_gives_the_converted_value<From, To>(), ...);
}

TEST_F(VectorExact, CopiesAndExpressionsKeepTheMathematicalValueAcrossSignedness)
{
    using all = std::tuple<int8_t, uint8_t, int16_t, uint16_t, int32_t, uint32_t>;
    from_one_type<int8_t>(all());
    from_one_type<uint8_t>(all());
    from_one_type<int16_t>(all());
    from_one_type<uint16_t>(all());
    from_one_type<int32_t>(all());
    from_one_type<uint32_t>(all());

    // The issue's example, and the instruction it issues: VMOV with the
    // source's signedness (zero-extending).
    Vector<uint8_t> u(4);
    Vector<int16_t> w(4);
    fill(u, {10, 127, 128, 255});
    w = u;
    EXPECT_EQ(values(w), (V{10, 127, 128, 255}));
    expect_same([&] { w = u; }, [&] { kmr_VVBHU(VMOV, reinterpret_cast<uint16_t *>(w.data), u.data, nullptr); });
}

TEST_F(VectorExact, ScalarsSaturationAndSumsFollowTheOperandsSignedness)
{
    Vector<uint8_t> u(4);
    Vector<int16_t> w(4);
    fill(u, {0, 1, 200, 255});
    // Scalars take the computation type: here 16 bits (the destination's
    // width), unsigned (the vector's signedness).
    w = u + 300;
    EXPECT_EQ(values(w), (V{300, 301, 500, 555}));
    w = 1000 - u;
    EXPECT_EQ(values(w), (V{1000, 999, 800, 745}));
    w = u - 1;
    EXPECT_EQ(values(w), (V{-1, 0, 199, 254}));
    // An expression without vectors takes the destination's signedness.
    w = 0 - ENUM;
    EXPECT_EQ(values(w), (V{0, -1, -2, -3}));
    u = ENUM - 1;
    EXPECT_EQ(values(u), (V{255, 0, 1, 2}));

    // Saturating into a destination of the operands' signedness, wider or not.
    Vector<int8_t> s(4);
    fill(s, {100, -100, 127, -128});
    Vector<int8_t> s8(4);
    s8 = vaddfxp(s, s);
    EXPECT_EQ(values(s8), (V{127, -128, 127, -128}));
    w = vaddfxp(s, s);  // computed at 16 bits: nothing saturates
    EXPECT_EQ(values(w), (V{200, -200, 254, -256}));

    // Sums of narrow elements into a wider element of the same signedness.
    Vector<int32_t> total(2);
    total[0] = s;
    Vector<uint16_t> utotal(1);
    utotal[0] = u;
    EXPECT_EQ(values(total)[0], -1);
    EXPECT_EQ(values(utotal)[0], 255 + 0 + 1 + 2);
}

// ---------------------------------------------------------------------------
// Comparisons and select.

template <typename T>
void comparisons_are_exact()
{
    SCOPED_TRACE(std::to_string(sizeof(T) * 8) + (std::is_signed<T>::value ? " signed" : " unsigned"));
    const int n = 24;
    std::mt19937 rng(17);
    Vector<T> a(n), b(n), r(n);
    randomize(a, n, rng);
    randomize(b, n, rng);
    // Some equal pairs and some neighbours.
    kmr_sync();
    a.data[5] = b.data[5];
    b.data[6] = static_cast<T>(a.data[6] + 1);
    const V av = values(a), bv = values(b);
    const long long lo = std::numeric_limits<T>::min(), hi = std::numeric_limits<T>::max();
    const kmr_word_t k = static_cast<kmr_word_t>(std::is_signed<T>::value ? -3 : 7);

    auto check = [&](const char *what, auto assign, auto truth) {
        SCOPED_TRACE(what);
        kmrsim_reset_stats();
        assign();
        EXPECT_EQ(total_instructions(), 3u);  // VSUB, VMOV of 0, the conditional move
        const V rv = values(r);
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(rv[size_t(i)], truth(av[size_t(i)], bv[size_t(i)], i) ? 1 : 0)
                << av[size_t(i)] << " vs " << bv[size_t(i)] << " (i=" << i << ")";
    };
    check(
        "a < b", [&] { r = select(a < b, 1, 0); }, [](long long x, long long y, int) { return x < y; });
    check(
        "a <= b", [&] { r = select(a <= b, 1, 0); }, [](long long x, long long y, int) { return x <= y; });
    check(
        "a > b", [&] { r = select(a > b, 1, 0); }, [](long long x, long long y, int) { return x > y; });
    check(
        "a >= b", [&] { r = select(a >= b, 1, 0); }, [](long long x, long long y, int) { return x >= y; });
    check(
        "a == b", [&] { r = select(a == b, 1, 0); }, [](long long x, long long y, int) { return x == y; });
    check(
        "a != b", [&] { r = select(a != b, 1, 0); }, [](long long x, long long y, int) { return x != y; });
    check(
        "!(a < b)", [&] { r = select(!(a < b), 1, 0); }, [](long long x, long long y, int) { return !(x < y); });
    const long long kk = static_cast<T>(k);
    check(
        "a < k", [&] { r = select(a < k, 1, 0); }, [&](long long x, long long, int) { return x < kk; });
    check(
        "k <= a", [&] { r = select(k <= a, 1, 0); }, [&](long long x, long long, int) { return kk <= x; });
    check(
        "a > ENUM", [&] { r = select(a > ENUM, 1, 0); }, [](long long x, long long, int i) { return x > i; });
    check(
        "ENUM >= b", [&] { r = select(ENUM >= b, 1, 0); }, [](long long, long long y, int i) { return i >= y; });
    check(
        "ENUM < 9", [&] { r = select(ENUM < 9, 1, 0); }, [](long long, long long, int i) { return i < 9; });
    check(
        "lo < a", [&] { r = select(static_cast<kmr_word_t>(lo) < a, 1, 0); },
        [&](long long x, long long, int) { return lo < x; });
    check(
        "a >= hi", [&] { r = select(a >= static_cast<kmr_word_t>(hi), 1, 0); },
        [&](long long x, long long, int) { return x >= hi; });

    // The same condition as a masked region.
    r = 0;
    KMR_WHERE(a < b)
    {
        r = 1;
    }
    const V rv = values(r);
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(rv[size_t(i)], av[size_t(i)] < bv[size_t(i)] ? 1 : 0) << "masked, i=" << i;
}

TEST_F(VectorExact, ComparisonsAreExactForEveryPairOfValues)
{
    comparisons_are_exact<int8_t>();
    comparisons_are_exact<uint8_t>();
    comparisons_are_exact<int16_t>();
    comparisons_are_exact<uint16_t>();
    comparisons_are_exact<int32_t>();
    comparisons_are_exact<uint32_t>();
}

TEST_F(VectorExact, SelectMovesXWhereTheConditionHoldsAndYElsewhere)
{
    Vector<int16_t> a(6), b(6), d(6);
    fill(a, {-5, 0, 300, 255, 256, -32768});
    fill(b, {1, 1, 1, 1, 1, 1});
    d = select(a > b, a, b);  // maximum
    EXPECT_EQ(values(d), (V{1, 1, 300, 255, 256, 1}));

    // Clamping in place: y is the destination itself, so no copy is made.
    d = a;
    kmrsim_reset_stats();
    d = select(d < 0, 0, d);
    EXPECT_EQ(total_instructions(), 2u);
    d = select(d > 255, 255, d);
    EXPECT_EQ(values(d), (V{0, 0, 255, 255, 255, 0}));

    // x is the destination: it is copied before y overwrites it.
    d = a;
    d = select(a < 0, d, ENUM);
    EXPECT_EQ(values(d), (V{-5, 1, 2, 3, 4, -32768}));

    // An expression as x, and a condition on another width.
    Vector<uint8_t> out(6);
    Vector<int32_t> wide(6);
    fill(wide, {-1, 70000, 3, 0, 255, 256});
    out = select(wide >= 0, 0, 99);
    EXPECT_EQ(values(out), (V{99, 0, 0, 0, 0, 0}));

    // The flat form of a select: difference, y, conditional move.
    int16_t *const tmp = static_cast<int16_t *>(kmr_sp_get());
    expect_same([&] { d = select(a <= b, a + 1, 7); },
                [&] {
                    kmr_VVHHS(VSUB, tmp, a.data, b.data);
                    kmr_SVHHS(VADD, tmp + 8, 1, a.data);
                    kmr_SVHHS(VMOV, d.data, 7, nullptr);
                    kmr_VVHHS(VCMV_LEZ, d.data, tmp + 8, tmp);
                });
}

TEST_F(VectorExact, ComparisonRegionsNestAndLeaveTheStackAsTheyFoundIt)
{
    Vector<int> a(8), r(8);
    a = ENUM;
    r = 0;
    char *const sp0 = static_cast<char *>(kmr_sp_get());
    KMR_WHERE(a > 1)
    {
        KMR_WHERE(a < 6)
        {
            r = 1;
        }
        r = r + 10;
    }
    EXPECT_EQ(values(r), (V{0, 0, 11, 11, 11, 11, 10, 10}));
    EXPECT_EQ(static_cast<char *>(kmr_sp_get()), sp0);
    EXPECT_EQ(kmr_tqm_ptr->spstack_top, 2);
    EXPECT_EQ(vector_mask_obj::nested, 0);

    // The flat form of a region on a comparison: the difference into a
    // temporary, the mask from it, then the masked instructions.
    int *const tmp = static_cast<int *>(kmr_sp_get());
    expect_same(
        [&] {
            KMR_WHERE(5 <= a)
            {
                r = 3;
            }
        },
        [&] {
            kmr_SVWWS(VSUB, tmp, 5, a.data);  // 5 <= a: 5 - a <= 0
            kmrsim_setup_mask(V_VVWWS, VCMV_LEZ, tmp);
            kmr_masked_1D_SVWWS(VMOV, r.data, 3, nullptr);
        });
}

// ---------------------------------------------------------------------------
// Lengths and 2D/3D registers set behind the library's back.

TEST_F(VectorExact, TheLibraryAlwaysRunsWithTheLengthItNeeds)
{
    Vector<int> a(100), b(100);
    a = 1;
    const uint32_t set0 = kmrsim_get_stats().set_vl_count;
    kmr_set_vl(16);
    b = a + 1;
    EXPECT_EQ(values(b), V(100, 2));
    EXPECT_EQ(kmrsim_get_stats().set_vl_count, set0 + 2);
    KMR_SET_VL(KMR_SEL_VL, 5, 5);
    b = a + 2;
    EXPECT_EQ(values(b), V(100, 3));
    // Redundant settings are not made.
    b = a + 3;
    b = 4;
    EXPECT_EQ(kmrsim_get_stats().set_vl_count, set0 + 4);
    kmr_set_vl(100);
    const uint32_t set1 = kmrsim_get_stats().set_vl_count;
    a = 0;
    EXPECT_EQ(kmrsim_get_stats().set_vl_count, set1);

    // 2D and 3D counts and strides: set when the registers do not hold them.
    Vector<int, 2> m(4, 3, 4);
    m = 1;
    kmrsim_reset_stats();
    m = 2;
    m = m + 1;
    EXPECT_EQ(kmrsim_get_stats().set_2D_count, 0u);
    KMR_SET_VL(KMR_SEL_COUNT, 1, 0);
    kmrsim_reset_stats();
    m = 4;
    EXPECT_EQ(values(m, 12), V(12, 4));
    EXPECT_EQ(kmrsim_get_stats().set_2D_count, 1u);

    Vector<int, 3> t(2, 2, 2, 2, 4);
    t = 1;
    kmrsim_reset_stats();
    t = 2;
    EXPECT_EQ(kmrsim_get_stats().set_2D_count + kmrsim_get_stats().set_3D_count, 0u);
    KMR_SET_VL3D(KMR_SEL_COUNT, 1, 0);
    KMR_SET_VL3D(KMR_SEL_STRIDES, 0, 0);
    kmrsim_reset_stats();
    t = 3;
    EXPECT_EQ(values(t, 8), V(8, 3));
    EXPECT_EQ(kmrsim_get_stats().set_3D_count, 1u);
    EXPECT_EQ(kmrsim_get_stats().set_2D_count, 0u);
}

}  // namespace
