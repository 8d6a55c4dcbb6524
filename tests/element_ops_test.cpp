// Element operations checked against a reference model written with exact
// (128-bit) integer arithmetic: numeric values, floor divisions and range
// checks instead of the bit tricks of the implementation.
#include "element_ops.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using i128 = __int128;

// ---------------------------------------------------------------------------
// Reference model.

struct Type {
    bool sgn;
    int width;
    i128 lo() const { return sgn ? -(i128(1) << (width - 1)) : 0; }
    i128 hi() const { return sgn ? (i128(1) << (width - 1)) - 1 : (i128(1) << width) - 1; }
    i128 modulus() const { return i128(1) << width; }
    // x reduced modulo 2^W into the type's range.
    i128 wrap(i128 x) const
    {
        const i128 m = x & (modulus() - 1);  // x mod 2^W, in [0, 2^W)
        return m > hi() ? m - modulus() : m;
    }
    bool fits(i128 x) const { return x >= lo() && x <= hi(); }
    i128 clamp(i128 x) const { return x > hi() ? hi() : x < lo() ? lo() : x; }
};

i128 floor_div(i128 x, i128 d)
{
    i128 q = x / d;
    if (x % d != 0 && x < 0)
        --q;
    return q;
}
i128 pow2(unsigned k)
{
    return i128(1) << k;
}
i128 mod_pos(i128 x, i128 m)
{
    i128 r = x % m;
    return r < 0 ? r + m : r;
}

struct Outcome {
    bool write;
    i128 value;
    i128 flag;
};

// Which source flags an opcode uses, per the opcode table.
bool uses_a_flag(int op)
{
    return op <= VXOR || (op >= VCMV_LEZ && op <= VCMV_NZ);
}
bool uses_b_flag(int op)
{
    return (op >= VAND && op <= VXOR) || op == VADDC || op == VSUBB || op == VROTL || op == VROTR ||
           (op >= VCMV_LEZ && op <= VCMV_GEZ);
}
bool uses_b(int op)
{
    return op != VMOV && op != VADDC && op != VSUBB;
}

Outcome reference(int op, Type t, i128 a, i128 af, i128 b, i128 bf, unsigned n)
{
    const auto set = [](i128 v, bool f) { return Outcome{true, v, f ? 1 : 0}; };
    const auto move_if = [&](bool c) { return c ? Outcome{true, a, af} : Outcome{false, 0, 0}; };
    const bool ltz = t.sgn ? ((b < 0) != (bf != 0)) : bf != 0;
    const bool lez = ltz || b == 0;
    const unsigned k = static_cast<unsigned>(mod_pos(a, 32));
    switch (op) {
    case VMOV: return {true, a, af};
    case VAND: return {true, t.wrap(a & b), af & bf};
    case VOR: return {true, t.wrap(a | b), af | bf};
    case VXOR: return {true, t.wrap(a ^ b), af ^ bf};
    case VADD: return set(t.wrap(a + b), !t.fits(a + b));
    case VSUB: return set(t.wrap(a - b), !t.fits(a - b));
    case VADDC: return set(t.wrap(a + bf), !t.fits(a + bf));
    case VSUBB: return set(t.wrap(a - bf), !t.fits(a - bf));
    case VMUL: {
        const i128 r = t.wrap(a * b);
        if (t.sgn)
            return set(r, (r < 0) ^ (a < 0) ^ (b < 0));
        return set(r, a != 0 && (t.modulus() - 1) / a < b);
    }
    case VMULHI: {
        const i128 p = a * b;
        return set(t.wrap(floor_div(p, t.modulus())), mod_pos(floor_div(p, pow2(unsigned(t.width - 1))), 2) != 0);
    }
    case VMULFXP: {
        const i128 p = a * b;
        const i128 r = n == 0 ? p : floor_div(p + pow2(n - 1), pow2(n));
        return set(t.clamp(r), !t.fits(r));
    }
    case VSUBFXP: return set(t.clamp(a - b), !t.fits(a - b));
    case VADDFXP: return set(t.clamp(a + b), !t.fits(a + b));
    case VSHL: {
        const i128 r = t.wrap(b * pow2(k));
        return set(r, floor_div(r, pow2(k)) != b);
    }
    case VSHR: {
        const bool f = a != 0 && mod_pos(floor_div(b, pow2(static_cast<unsigned>(mod_pos(a - 1, 32)))), 2) != 0;
        return set(t.wrap(floor_div(b, pow2(k))), f);
    }
    case VROTL:
    case VROTR: {
        i128 s = mod_pos(a, t.width);
        if (op == VROTR)
            s = mod_pos(t.width - s, t.width);
        const i128 u = mod_pos(b, t.modulus());
        const i128 rotated =
            (u * pow2(static_cast<unsigned>(s))) % t.modulus() + floor_div(u, pow2(static_cast<unsigned>(t.width - s)));
        return {true, t.wrap(rotated), bf};
    }
    case VCMV_LEZ: return move_if(lez);
    case VCMV_GTZ: return move_if(!lez);
    case VCMV_LTZ: return move_if(ltz);
    case VCMV_GEZ: return move_if(!ltz);
    case VCMV_Z: return move_if(b == 0);
    case VCMV_NZ: return move_if(b != 0);
    case VABSDIFF: return {true, t.wrap(b < a ? a - b : b - a), 0};
    }
    return {false, 0, 0};
}

template <typename T>
constexpr Type type_of()
{
    return Type{std::is_signed_v<T>, static_cast<int>(sizeof(T) * 8)};
}

template <typename T>
void set_frac(unsigned n)
{
    auto &tqm = kmrsim::sim().tqm;
    (sizeof(T) == 1   ? tqm.fxp_byte_frac_bits
     : sizeof(T) == 2 ? tqm.fxp_half_frac_bits
                      : tqm.fxp_word_frac_bits) = static_cast<char>(n);
}

std::string str(i128 v)
{
    return std::to_string(static_cast<long long>(v));
}

// ---------------------------------------------------------------------------
// run_func against the reference.

constexpr int kMaxReports = 12;

template <typename T>
struct Checker {
    int failures = 0;
    long checked = 0;

    void one(int op, unsigned n, T a, T af, T b, T bf)
    {
        ++checked;
        const T sentinel_out = static_cast<T>(0x5A), sentinel_flag = 2, sentinel_en = 3;
        T out = sentinel_out, out_flag = sentinel_flag, en = sentinel_en;
        run_func<T>(static_cast<vinstr_t>(op), a, af, b, bf, out, out_flag, en);
        const Outcome r = reference(op, type_of<T>(), a, af, b, bf, n);
        const bool ok = r.write ? (out == r.value && out_flag == r.flag && en == sentinel_en)
                                : (out == sentinel_out && out_flag == sentinel_flag && en == 0);
        if (!ok && ++failures <= kMaxReports) {
            ADD_FAILURE() << "op " << op << " width " << sizeof(T) * 8
                          << (std::is_signed_v<T> ? " signed" : " unsigned") << " frac " << n << ": a=" << str(a)
                          << " af=" << str(af) << " b=" << str(b) << " bf=" << str(bf) << " -> out=" << str(out)
                          << " flag=" << str(out_flag) << " en=" << str(en) << "; expected "
                          << (r.write ? "out=" + str(r.value) + " flag=" + str(r.flag) : "no write");
        }
    }

    // Every opcode on every pair, both values of each flag the opcode uses
    // (other flags vary with the operands, which must not matter), and each
    // fraction width for VMULFXP.
    void all_ops(const std::vector<std::pair<T, T>> &pairs, const std::vector<unsigned> &fracs)
    {
        for (int op = 0; op < kmrsim::builtin_op_count; ++op) {
            const std::vector<unsigned> ns = op == VMULFXP ? fracs : std::vector<unsigned>{fracs[0]};
            for (unsigned n : ns) {
                set_frac<T>(n);
                for (const auto &[a, b] : pairs) {
                    const T mixed = static_cast<T>((a ^ b) & 1);
                    for (int af = 0; af < 2; ++af) {
                        if (!uses_a_flag(op) && af != 0)
                            break;
                        for (int bf = 0; bf < 2; ++bf) {
                            if (!uses_b_flag(op) && bf != 0)
                                break;
                            one(op, n, a, uses_a_flag(op) ? T(af) : mixed, b,
                                uses_b_flag(op) ? T(bf) : static_cast<T>(1 - mixed));
                        }
                    }
                }
            }
        }
    }
};

template <typename T>
std::vector<std::pair<T, T>> all_pairs_8bit()
{
    std::vector<std::pair<T, T>> pairs;
    for (int a = -128; a < 256; ++a)
        for (int b = -128; b < 256; ++b)
            if (type_of<T>().fits(a) && type_of<T>().fits(b))
                pairs.emplace_back(static_cast<T>(a), static_cast<T>(b));
    return pairs;
}

template <typename T>
std::vector<T> boundary_values()
{
    const Type t = type_of<T>();
    std::vector<i128> v = {0, 1, -1, t.lo(), t.hi(), t.lo() + 1, t.hi() - 1};
    for (unsigned k = 0; k < static_cast<unsigned>(t.width); ++k) {
        v.push_back(pow2(k));
        v.push_back(-pow2(k));
        v.push_back(pow2(k) - 1);
    }
    for (int s = 2; s <= 40; ++s)
        v.push_back(s);  // shift and rotate counts
    std::vector<T> out;
    for (i128 x : v)
        out.push_back(static_cast<T>(t.wrap(x)));
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

template <typename T>
std::vector<std::pair<T, T>> wide_pairs(std::mt19937_64 &rng, int random_count)
{
    const std::vector<T> bv = boundary_values<T>();
    std::vector<std::pair<T, T>> pairs;
    for (T a : bv)
        for (T b : bv)
            pairs.emplace_back(a, b);
    for (int i = 0; i < random_count; ++i)
        pairs.emplace_back(static_cast<T>(rng()), static_cast<T>(rng()));
    return pairs;
}

}  // namespace

TEST(ElementOpsExhaustive, SignedEightBitAllPairsAllOpcodes)
{
    Checker<int8_t> c;
    c.all_ops(all_pairs_8bit<int8_t>(), {4, 0, 1, 7});
    EXPECT_EQ(c.failures, 0);
    EXPECT_GT(c.checked, 24L * 65536);
}

TEST(ElementOpsExhaustive, UnsignedEightBitAllPairsAllOpcodes)
{
    Checker<uint8_t> c;
    c.all_ops(all_pairs_8bit<uint8_t>(), {4, 0, 1, 7});
    EXPECT_EQ(c.failures, 0);
    EXPECT_GT(c.checked, 24L * 65536);
}

TEST(ElementOpsExhaustive, SixteenAndThirtyTwoBitBoundaryAndRandomPairs)
{
    std::mt19937_64 rng(20240611);
    Checker<int16_t> s16;
    s16.all_ops(wide_pairs<int16_t>(rng, 5000), {8, 0, 1, 15});
    Checker<uint16_t> u16;
    u16.all_ops(wide_pairs<uint16_t>(rng, 5000), {8, 0, 1, 15});
    Checker<int32_t> s32;
    s32.all_ops(wide_pairs<int32_t>(rng, 5000), {16, 0, 1, 31});
    Checker<uint32_t> u32;
    u32.all_ops(wide_pairs<uint32_t>(rng, 5000), {16, 0, 1, 31});
    EXPECT_EQ(s16.failures + u16.failures + s32.failures + u32.failures, 0);
}

// ---------------------------------------------------------------------------
// Worked examples, stated as numbers so that they also pin the reference.

namespace {
struct Example {
    const char *what;
    int op;
    bool sgn;
    int width;
    long long a, b, bf;
    unsigned frac;
    bool write;
    long long out, flag;
};

template <typename T>
void run_example(const Example &e)
{
    set_frac<T>(e.frac);
    T out = 9, out_flag = 0, en = 1;
    run_func<T>(static_cast<vinstr_t>(e.op), static_cast<T>(e.a), T(1), static_cast<T>(e.b), static_cast<T>(e.bf), out,
                out_flag, en);
    SCOPED_TRACE(e.what);
    if (e.write) {
        EXPECT_EQ(static_cast<long long>(out), e.out);
        EXPECT_EQ(static_cast<long long>(out_flag), e.flag);
        EXPECT_EQ(en, 1);
    } else {
        EXPECT_EQ(out, 9);
        EXPECT_EQ(out_flag, 0);
        EXPECT_EQ(en, 0);
    }
    // The reference model agrees.
    const Outcome r = reference(e.op, Type{e.sgn, e.width}, static_cast<T>(e.a), 1, static_cast<T>(e.b),
                                static_cast<T>(e.bf), e.frac);
    EXPECT_EQ(r.write, e.write);
    if (e.write) {
        EXPECT_EQ(static_cast<long long>(r.value), e.out);
        EXPECT_EQ(static_cast<long long>(r.flag), e.flag);
    }
}
}  // namespace

TEST(ElementOps, WorkedExamples)
{
    // A's flag is 1 in every example (it is what a conditional move copies).
    const Example examples[] = {
        {"i8 add overflow", VADD, true, 8, 100, 100, 0, 0, true, -56, 1},
        {"u8 add carry", VADD, false, 8, 200, 100, 0, 0, true, 44, 1},
        {"u8 sub borrow", VSUB, false, 8, 5, 7, 0, 0, true, 254, 1},
        {"u8 subb from 0", VSUBB, false, 8, 0, 42, 1, 0, true, 255, 1},
        {"u8 subb from 5", VSUBB, false, 8, 5, 42, 1, 0, true, 4, 0},
        {"addc ignores b", VADDC, true, 8, 10, 99, 1, 0, true, 11, 0},
        {"i8 mul 0*-3 sign rule", VMUL, true, 8, 0, -3, 0, 0, true, 0, 1},
        {"i8 mul 16*16 sign rule", VMUL, true, 8, 16, 16, 0, 0, true, 0, 0},
        {"u8 mul 16*16 overflow", VMUL, false, 8, 16, 16, 0, 0, true, 0, 1},
        {"u8 mul 15*17 fits", VMUL, false, 8, 15, 17, 0, 0, true, 255, 0},
        {"i16 mulhi -2*3", VMULHI, true, 16, -2, 3, 0, 0, true, -1, 1},
        {"i8 fxp 8*8", VMULFXP, true, 8, 8, 8, 0, 4, true, 4, 0},
        {"i8 fxp 127*127", VMULFXP, true, 8, 127, 127, 0, 4, true, 127, 1},
        {"i8 fxp -128*127", VMULFXP, true, 8, -128, 127, 0, 4, true, -128, 1},
        {"i8 fxp 3*3 rounds up", VMULFXP, true, 8, 3, 3, 0, 4, true, 1, 0},
        {"i8 fxp frac 0 plain product", VMULFXP, true, 8, 3, 5, 0, 0, true, 15, 0},
        {"i8 fxp frac 0 saturates", VMULFXP, true, 8, -16, 16, 0, 0, true, -128, 1},
        {"u8 fxp frac 0 saturates", VMULFXP, false, 8, 16, 16, 0, 0, true, 255, 1},
        {"i8 addfxp", VADDFXP, true, 8, 100, 100, 0, 0, true, 127, 1},
        {"u8 subfxp", VSUBFXP, false, 8, 3, 4, 0, 0, true, 0, 1},
        {"i8 shl into sign", VSHL, true, 8, 1, 64, 0, 0, true, -128, 1},
        {"u8 shl by width", VSHL, false, 8, 8, 1, 0, 0, true, 0, 1},
        {"shl count 33 is 1", VSHL, true, 8, 33, 3, 0, 0, true, 6, 0},
        {"i8 shr -128 by 7", VSHR, true, 8, 7, -128, 0, 0, true, -1, 0},
        {"i8 shr 3 by 1", VSHR, true, 8, 1, 3, 0, 0, true, 1, 1},
        {"shr by 0", VSHR, true, 8, 0, 3, 0, 0, true, 3, 0},
        {"u8 rotl 0x81 by 1", VROTL, false, 8, 1, 0x81, 0, 0, true, 0x03, 0},
        {"u8 rotl 0x81 by 9", VROTL, false, 8, 9, 0x81, 1, 0, true, 0x03, 1},
        {"i8 ltz sees overflow", VCMV_LTZ, true, 8, 7, 100, 1, 0, true, 7, 1},
        {"u8 ltz flag set", VCMV_LTZ, false, 8, 7, 0, 1, 0, true, 7, 1},
        {"u8 ltz flag clear", VCMV_LTZ, false, 8, 7, 200, 0, 0, false, 0, 0},
        {"i8 gez fails", VCMV_GEZ, true, 8, 7, -1, 0, 0, false, 0, 0},
        {"i8 absdiff", VABSDIFF, true, 8, 127, -128, 0, 0, true, -1, 0},
    };
    for (const Example &e : examples) {
        if (e.width == 16)
            run_example<int16_t>(e);
        else if (e.sgn)
            run_example<int8_t>(e);
        else
            run_example<uint8_t>(e);
    }
}

TEST(ElementOps, OpcodesOutsideBuiltinRangeLeaveOutputsAlone)
{
    for (int op : {int(VCUSTOM0), int(VCUSTOM15), 63}) {
        int32_t out = 5, out_flag = 1, en = 1;
        run_func<int32_t>(static_cast<vinstr_t>(op), 1, 1, 2, 1, out, out_flag, en);
        EXPECT_EQ(out, 5);
        EXPECT_EQ(out_flag, 1);
        EXPECT_EQ(en, 1);
    }
    EXPECT_EQ((kmrsim::select_op_loop<int32_t, true>(-1)), nullptr);
    EXPECT_EQ((kmrsim::select_op_loop<int32_t, true>(VCUSTOM0)), nullptr);
    EXPECT_EQ((kmrsim::select_op_loop<uint8_t, false>(VCUSTOM15)), nullptr);
}

TEST(ElementOps, FracWidthFollowsComputationType)
{
    auto &tqm = kmrsim::sim().tqm;
    tqm.fxp_byte_frac_bits = 3;
    tqm.fxp_half_frac_bits = 9;
    tqm.fxp_word_frac_bits = 17;
    EXPECT_EQ(kmrsim::frac_bits<int8_t>(), 3u);
    EXPECT_EQ(kmrsim::frac_bits<uint16_t>(), 9u);
    EXPECT_EQ(kmrsim::frac_bits<int32_t>(), 17u);
}

// The declared inputs of each opcode match the opcode table, so the array
// loops may be handed null pointers for the rest.
namespace {
template <typename T, size_t... I>
void check_declared_inputs(std::index_sequence<I...>)
{
    (
        [] {
            using E = kmrsim::element_op<static_cast<int>(I), T>;
            constexpr int op = static_cast<int>(I);
            EXPECT_EQ(E::reads_a_flag, uses_a_flag(op)) << op;
            EXPECT_EQ(E::reads_b, uses_b(op)) << op;
            EXPECT_EQ(E::reads_b_flag, uses_b_flag(op)) << op;
            EXPECT_EQ(E::conditional, op >= VCMV_LEZ && op <= VCMV_NZ) << op;
        }(),
        ...);
}
}  // namespace

TEST(ElementOps, DeclaredInputsMatchOpcodeTable)
{
    check_declared_inputs<int16_t>(std::make_index_sequence<24>{});
    check_declared_inputs<uint32_t>(std::make_index_sequence<24>{});
}

// ---------------------------------------------------------------------------
// Array loops against run_func, element by element.

namespace {
template <typename T>
void check_loops(std::mt19937_64 &rng)
{
    constexpr size_t n = 301;  // not a multiple of any vector width
    const std::vector<T> bv = boundary_values<T>();
    const auto pick = [&] { return rng() % 3 == 0 ? static_cast<T>(rng()) : bv[rng() % bv.size()]; };
    set_frac<T>(sizeof(T) * 8 / 2);
    for (int op = 0; op < kmrsim::builtin_op_count; ++op) {
        const bool conditional = op >= VCMV_LEZ && op <= VCMV_NZ;
        std::vector<T> a(n), af(n), b(n), bf(n), out0(n), of0(n), en0(n);
        for (size_t i = 0; i < n; ++i) {
            a[i] = pick();
            b[i] = rng() % 4 == 0 ? T(0) : pick();
            af[i] = static_cast<T>(rng() & 1);
            bf[i] = static_cast<T>(rng() & 1);
            out0[i] = pick();
            of0[i] = static_cast<T>(rng() & 1);
            en0[i] = rng() % 3 == 0 ? T(0) : static_cast<T>(1 + rng() % 5);
        }
        for (bool all : {false, true}) {
            for (bool in_place : {false, true}) {
                if (in_place && (!all || conditional))
                    continue;  // these loops take separate result arrays
                SCOPED_TRACE("op " + std::to_string(op) + (all ? " all" : " enabled") + (in_place ? " in place" : ""));
                std::vector<T> out = in_place ? a : out0, of = of0, en = en0;
                if (all && conditional)
                    std::fill(en.begin(), en.end(), T(0));  // must not be read
                const auto fn = all ? kmrsim::select_op_loop<T, true>(op) : kmrsim::select_op_loop<T, false>(op);
                ASSERT_NE(fn, nullptr);
                fn(n, in_place ? out.data() : a.data(), uses_a_flag(op) ? af.data() : nullptr,
                   uses_b(op) ? b.data() : nullptr, uses_b_flag(op) ? bf.data() : nullptr, out.data(), of.data(),
                   (all && !conditional) ? nullptr : en.data(), static_cast<unsigned>(sizeof(T) * 8 / 2));
                int bad = 0;
                for (size_t i = 0; i < n && bad < kMaxReports; ++i) {
                    T eo = in_place ? a[i] : out0[i], ef = of0[i], ee = all ? T(1) : en0[i];
                    if (ee != 0)
                        run_func<T>(static_cast<vinstr_t>(op), a[i], af[i], b[i], bf[i], eo, ef, ee);
                    const bool ok = out[i] == eo && of[i] == ef && (!(conditional || !all) || en[i] == ee);
                    if (!ok) {
                        ++bad;
                        ADD_FAILURE() << "element " << i;
                    }
                }
            }
        }
    }
}
}  // namespace

// The loops run in the instances for any x86-64 and, on a host with AVX2,
// in the wide ones (host_isa.hpp); both must give run_func's results.
namespace {
template <typename F>
void in_every_instance(F check)
{
    for (bool wide : {false, true}) {
        if (wide && !kmrsim::host_has_avx2())
            continue;
        SCOPED_TRACE(wide ? "wide instances" : "generic instances");
        kmrsim::wide_vectors = wide;
        check();
    }
    kmrsim::wide_vectors = kmrsim::host_has_avx2();
}
}  // namespace

TEST(ElementOpsLoop, AgreesWithRunFuncForAllTypes)
{
    in_every_instance([] {
        std::mt19937_64 rng(7);
        check_loops<int8_t>(rng);
        check_loops<uint8_t>(rng);
        check_loops<int16_t>(rng);
        check_loops<uint16_t>(rng);
        check_loops<int32_t>(rng);
        check_loops<uint32_t>(rng);
    });
}

// The loop that counts the enumeration itself and the loop that only sums
// agree with run_func: B is the element index from a start near the top of
// T's range (so that it wraps), with flag 0; the sum adds every result,
// sign-extended for signed T. The sum is missing for the conditional moves.
namespace {
template <typename T>
void check_enumerating_and_summing_loops(std::mt19937_64 &rng)
{
    using U = std::make_unsigned_t<T>;
    constexpr size_t n = 301;
    const std::vector<T> bv = boundary_values<T>();
    set_frac<T>(sizeof(T) * 8 / 2);
    for (int op = 0; op < kmrsim::builtin_op_count; ++op) {
        SCOPED_TRACE("op " + std::to_string(op));
        const bool conditional = op >= VCMV_LEZ && op <= VCMV_NZ;
        std::vector<T> a(n), af(n), b(n), bf(n), out(n), of(n), en(n);
        for (size_t i = 0; i < n; ++i) {
            a[i] = rng() % 3 == 0 ? static_cast<T>(rng()) : bv[rng() % bv.size()];
            af[i] = static_cast<T>(rng() & 1);
            b[i] = static_cast<T>(rng());
            bf[i] = static_cast<T>(rng() & 1);
            out[i] = static_cast<T>(rng());
            of[i] = static_cast<T>(rng() & 1);
        }
        const T first = static_cast<T>(static_cast<U>(~U(0)) - U(100));
        const std::vector<T> out0 = out, of0 = of;
        for (bool scalar_a : {false, true}) {
            SCOPED_TRACE(scalar_a ? "scalar A" : "vector A");
            const auto enumerating = kmrsim::select_op_loop_enum<T>(op, scalar_a);
            ASSERT_NE(enumerating, nullptr);
            out = out0;
            of = of0;
            enumerating(n, a.data(), af.data(), first, out.data(), of.data(), en.data(), unsigned(sizeof(T) * 4));
            for (size_t i = 0; i < n; ++i) {
                const T bi = static_cast<T>(static_cast<U>(static_cast<U>(first) + static_cast<U>(i)));
                const size_t k = scalar_a ? 0 : i;
                T eo = out0[i], ef = of0[i], ee = T(1);
                run_func<T>(static_cast<vinstr_t>(op), a[k], af[k], bi, T(0), eo, ef, ee);
                ASSERT_EQ(out[i], eo) << "element " << i;
                ASSERT_EQ(of[i], ef) << "element " << i;
                if (conditional) {
                    ASSERT_EQ(en[i] != 0, ee != 0) << "element " << i;
                }
            }
        }
        int64_t expected_sum = 0;
        for (size_t i = 0; i < n; ++i) {
            T so = 0, sf = 0, se = T(1);
            run_func<T>(static_cast<vinstr_t>(op), a[i], af[i], b[i], bf[i], so, sf, se);
            expected_sum += static_cast<int64_t>(so);
        }
        const auto summing = kmrsim::select_op_sum<T>(op);
        if (conditional) {
            EXPECT_EQ(summing, nullptr);
            continue;
        }
        ASSERT_NE(summing, nullptr);
        EXPECT_EQ(summing(n, a.data(), af.data(), b.data(), bf.data(), unsigned(sizeof(T) * 4)), expected_sum);
    }
}
}  // namespace

TEST(ElementOpsLoop, EnumeratingAndSummingLoopsAgreeWithRunFunc)
{
    in_every_instance([] {
        std::mt19937_64 rng(11);
        check_enumerating_and_summing_loops<int8_t>(rng);
        check_enumerating_and_summing_loops<uint8_t>(rng);
        check_enumerating_and_summing_loops<int16_t>(rng);
        check_enumerating_and_summing_loops<uint16_t>(rng);
        check_enumerating_and_summing_loops<int32_t>(rng);
        check_enumerating_and_summing_loops<uint32_t>(rng);
    });
    EXPECT_EQ(kmrsim::select_op_loop_enum<int32_t>(VCUSTOM0, false), nullptr);
    EXPECT_EQ(kmrsim::select_op_sum<uint8_t>(-1), nullptr);
}

// ---------------------------------------------------------------------------
// Narrowing.

namespace {
template <typename D, typename S>
void check_narrowing(std::mt19937_64 &rng)
{
    SCOPED_TRACE(std::to_string(sizeof(D) * 8) + " <- " + std::to_string(sizeof(S) * 8) +
                 (std::is_signed_v<S> ? " signed" : " unsigned"));
    std::vector<S> in = boundary_values<S>();
    const Type d = type_of<D>();
    for (i128 x : {d.lo() - 1, d.lo(), d.hi(), d.hi() + 1})
        in.push_back(static_cast<S>(type_of<S>().wrap(x)));
    for (int i = 0; i < 2000; ++i)
        in.push_back(static_cast<S>(rng()));
    std::vector<D> out(in.size());
    for (int op : {VADD, VMUL, VMULFXP, VSUBFXP, VADDFXP, VABSDIFF, VCUSTOM0, VCUSTOM15}) {
        const bool saturate = op == VMULFXP || op == VSUBFXP || op == VADDFXP;
        kmrsim::narrow_n<D, S>(op, in.size(), in.data(), out.data());
        int bad = 0;
        for (size_t i = 0; i < in.size() && bad < kMaxReports; ++i) {
            const D one = fixed_point_saturate<D, S>(static_cast<vinstr_t>(op), in[i]);
            const i128 expected = saturate ? d.clamp(in[i]) : d.wrap(in[i]);
            if (one != out[i] || static_cast<i128>(one) != expected) {
                ++bad;
                ADD_FAILURE() << "op " << op << " value " << str(in[i]) << ": narrow_n " << str(out[i])
                              << ", fixed_point_saturate " << str(one) << ", expected " << str(expected);
            }
        }
    }
}
}  // namespace

TEST(ElementOpsNarrowing, ArrayAndScalarFormsAgreeForEveryPairInUse)
{
    std::mt19937_64 rng(99);
    check_narrowing<int8_t, int8_t>(rng);
    check_narrowing<uint8_t, uint8_t>(rng);
    check_narrowing<int16_t, int16_t>(rng);
    check_narrowing<uint16_t, uint16_t>(rng);
    check_narrowing<int32_t, int32_t>(rng);
    check_narrowing<uint32_t, uint32_t>(rng);
    check_narrowing<int8_t, int16_t>(rng);
    check_narrowing<uint8_t, uint16_t>(rng);
    check_narrowing<int8_t, int32_t>(rng);
    check_narrowing<uint8_t, uint32_t>(rng);
    check_narrowing<int16_t, int32_t>(rng);
    check_narrowing<uint16_t, uint32_t>(rng);
}

TEST(ElementOpsNarrowing, SaturatingOpsClampOthersKeepLowBits)
{
    EXPECT_EQ((fixed_point_saturate<int8_t, int32_t>(VADDFXP, 300)), 127);
    EXPECT_EQ((fixed_point_saturate<int8_t, int32_t>(VADD, 300)), 44);
    EXPECT_EQ((fixed_point_saturate<int8_t, int32_t>(VMULFXP, -300)), -128);
    EXPECT_EQ((fixed_point_saturate<uint16_t, uint32_t>(VSUBFXP, 70000u)), 65535);
    EXPECT_EQ((fixed_point_saturate<uint8_t, uint32_t>(VCUSTOM3, 0x1FFu)), 0xFF);
}
