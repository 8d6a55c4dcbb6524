// The arithmetic core: what every built-in opcode (VMOV .. VABSDIFF, 0..23)
// does to one element and its flag, for the six element types, and the
// narrowing from the computation type to a narrower destination type.
//
// Everything is written once as templates over the element type T. The
// per-element meaning lives in element_op<Op, T>::apply; run_func (one
// element, opcode known at run time) and op_loop (arrays, opcode fixed at
// compile time) both call it, so there is a single definition of each
// opcode. Nothing here touches simulator memory; the only state read is the
// fixed-point fraction widths in the processor descriptor.
//
// All arithmetic is done in unsigned types or in types wide enough for the
// exact result, so no expression overflows a signed type, and every shift
// count is below the width of the shifted type.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <utility>

#include "host_isa.hpp"
#include "kmrsim.hpp"

// Type limits of an element type.
template <typename T>
constexpr T max_int()
{
    return std::numeric_limits<T>::max();
}
template <typename T>
constexpr T min_int()
{
    return std::numeric_limits<T>::min();
}

namespace kmrsim {

// Number of built-in opcodes (VMOV .. VABSDIFF); the opcodes from VCUSTOM0
// on are custom instructions.
inline constexpr int builtin_op_count = VCUSTOM0;

namespace detail {

template <typename T>
inline constexpr bool is_element_type_v =
    std::is_same_v<T, int8_t> || std::is_same_v<T, uint8_t> || std::is_same_v<T, int16_t> ||
    std::is_same_v<T, uint16_t> || std::is_same_v<T, int32_t> || std::is_same_v<T, uint32_t>;

template <typename T>
struct elem_traits {
    static_assert(is_element_type_v<T>, "element operations exist for 8/16/32-bit integers");
    static constexpr unsigned width = sizeof(T) * 8;
    static constexpr bool is_signed = std::is_signed_v<T>;
    using U = std::make_unsigned_t<T>;
    // B widened to 32 bits for the shifts: sign-extended for signed T,
    // zero-extended for unsigned T.
    using Wide32 = std::conditional_t<is_signed, int32_t, uint32_t>;
    // A type that holds the exact product of two T values plus a rounding
    // constant below 2^(width-1). Narrow products stay in 32 bits so that
    // loops over 8- and 16-bit elements vectorise well.
    using Prod = std::conditional_t<(sizeof(T) <= 2), Wide32, std::conditional_t<is_signed, int64_t, uint64_t>>;
};

// Reduction modulo 2^W into T (well defined for every integer argument).
template <typename T, typename V>
constexpr T wrap_to(V v)
{
    return static_cast<T>(static_cast<typename elem_traits<T>::U>(v));
}

// v narrowed to D by clamping it to D's range.
template <typename D, typename S>
constexpr D clamp_to(S v)
{
    if (v > static_cast<S>(max_int<D>()))
        return max_int<D>();
    if constexpr (std::is_signed_v<S>)
        if (v < static_cast<S>(min_int<D>()))
            return min_int<D>();
    return static_cast<D>(v);
}

// The top bit of a T value.
template <typename T>
constexpr bool sign(T v)
{
    using U = typename elem_traits<T>::U;
    return (static_cast<U>(v) >> (elem_traits<T>::width - 1)) != 0;
}

template <typename T>
constexpr T wrap_add(T a, T b)
{
    using U = typename elem_traits<T>::U;
    return wrap_to<T>(static_cast<U>(a) + static_cast<U>(b));
}
template <typename T>
constexpr T wrap_sub(T a, T b)
{
    using U = typename elem_traits<T>::U;
    return wrap_to<T>(static_cast<U>(a) - static_cast<U>(b));
}

// Flag of an addition r = trunc(a + b): signed overflow for signed T (both
// operands of one sign, result of the other), carry out for unsigned T.
template <typename T>
constexpr bool add_flag(T a, T b, T r)
{
    using U = typename elem_traits<T>::U;
    // r's sign differs from both a's and b's (so theirs agree): one mask.
    if constexpr (elem_traits<T>::is_signed)
        return sign(static_cast<T>((static_cast<U>(a) ^ static_cast<U>(r)) & (static_cast<U>(b) ^ static_cast<U>(r))));
    else
        return r < a;
}
// Flag of a subtraction r = trunc(a - b): signed overflow for signed T
// (operands of different signs, result's sign not a's), borrow for unsigned T.
template <typename T>
constexpr bool sub_flag(T a, T b, T r)
{
    using U = typename elem_traits<T>::U;
    // a's sign differs from both b's and r's: one mask.
    if constexpr (elem_traits<T>::is_signed)
        return sign(static_cast<T>((static_cast<U>(a) ^ static_cast<U>(b)) & (static_cast<U>(a) ^ static_cast<U>(r))));
    else
        return a < b;
}

// Conditions of the conditional moves, judged on B's value and flag. The
// flag holds the overflow (signed) or borrow (unsigned) of the instruction
// that produced B, so "less than zero" of a compare done by a subtraction is
// right even when the subtraction overflowed.
template <typename T>
constexpr bool cond_ltz(T b, T b_flag)
{
    if constexpr (elem_traits<T>::is_signed)
        return sign(b) != (b_flag != 0);
    else
        return b_flag != 0;
}
template <typename T>
constexpr bool cond_lez(T b, T b_flag)
{
    return cond_ltz(b, b_flag) | (b == 0);
}

template <typename T>
constexpr T flag_of(bool f)
{
    return static_cast<T>(f ? 1 : 0);
}

}  // namespace detail

// Fixed-point fraction width for computation type T, read from the
// simulator's descriptor at the time of the call: byte, half-word or word
// fraction bits by the width of T. Only widths below the width of T are
// meaningful (initialisation keeps the low 3, 4 or 5 bits); the same
// reduction is applied here so a hand-written descriptor cannot produce an
// out-of-range shift.
template <typename T>
unsigned frac_bits()
{
    const kmr_tqm_t &tqm = sim().tqm;
    char bits;
    if constexpr (sizeof(T) == 1)
        bits = tqm.fxp_byte_frac_bits;
    else if constexpr (sizeof(T) == 2)
        bits = tqm.fxp_half_frac_bits;
    else
        bits = tqm.fxp_word_frac_bits;
    return static_cast<unsigned char>(bits) & (detail::elem_traits<T>::width - 1);
}

// One built-in opcode's meaning on one element.
//
// apply(a, a_flag, b, b_flag, out, out_flag, enable, frac): a/a_flag are
// operand A's element and flag, b/b_flag operand B's. On entry out/out_flag
// hold the destination's previous value and flag and enable is nonzero.
// Every opcode assigns out and out_flag, except a conditional move whose
// condition fails: it only sets enable to 0 (no write). Flags are 0 or 1.
// frac is the fixed-point fraction width (only VMULFXP reads it).
//
// The reads_* constants say which inputs the opcode looks at, so that array
// loops can leave unused operand arrays alone.
template <int Op, typename T>
struct element_op;

namespace detail {
// What an opcode reads and how it behaves around its element computation.
// Every opcode definition below derives from one of these and overrides
// what differs; the simulator's per-opcode tables are built from them.
struct op_facts {
    static constexpr bool reads_a_flag = false;  // A's flag is an input
    static constexpr bool reads_b = true;        // B's value is an input
    static constexpr bool reads_b_flag = false;  // B's flag is an input
    static constexpr bool conditional = false;   // may cancel its write (clears enable)
    // Source B's range is waited for and checked before the row runs.
    static constexpr bool b_range_checked = true;
    // Narrowing to a narrower destination clamps instead of keeping the low bits.
    static constexpr bool saturates_on_narrowing = false;
    // The conditional move that holds exactly where this one fails (-1: none);
    // refining a mask writes 0 under the old mask where the new condition fails.
    static constexpr int inverse_condition = -1;
};
// Most opcodes: A's value and B's value.
using op_reads_ab = op_facts;
// Carry opcodes: A's value and B's flag; B's value is not used.
struct op_reads_a_and_b_flag : op_facts {
    static constexpr bool reads_b = false;
    static constexpr bool reads_b_flag = true;
};
// Logic opcodes: the same operation on the values and on the flags.
struct op_reads_all : op_facts {
    static constexpr bool reads_a_flag = true;
    static constexpr bool reads_b_flag = true;
};
// Rotates: B's value and flag.
struct op_reads_b_and_flag : op_facts {
    static constexpr bool reads_b_flag = true;
};
// Fixed-point opcodes: saturate, also when narrowing.
struct op_saturating : op_facts {
    static constexpr bool saturates_on_narrowing = true;
};
// Conditional moves: move A (value and flag) when a test on B holds.
template <int Inverse, bool ReadsBFlag>
struct op_cmv : op_facts {
    static constexpr bool reads_a_flag = true;
    static constexpr bool reads_b_flag = ReadsBFlag;
    static constexpr bool conditional = true;
    static constexpr int inverse_condition = Inverse;
};

template <typename T>
inline void cmv(bool cond, T a, T a_flag, T &out, T &out_flag, T &enable)
{
    // Written as selects so that loops over it if-convert.
    out = cond ? a : out;
    out_flag = cond ? a_flag : out_flag;
    enable = cond ? enable : T(0);
}
}  // namespace detail

// VMOV: a, with A's flag.
template <typename T>
struct element_op<VMOV, T> : detail::op_facts {
    static constexpr bool reads_a_flag = true;
    static constexpr bool reads_b = false;
    static constexpr bool b_range_checked = false;  // VMOV never reads B
    static inline void apply(T a, T a_flag, T, T, T &out, T &out_flag, T &, unsigned)
    {
        out = a;
        out_flag = a_flag;
    }
};

template <typename T>
struct element_op<VAND, T> : detail::op_reads_all {
    static inline void apply(T a, T a_flag, T b, T b_flag, T &out, T &out_flag, T &, unsigned)
    {
        out = static_cast<T>(a & b);
        out_flag = static_cast<T>(a_flag & b_flag);
    }
};
template <typename T>
struct element_op<VOR, T> : detail::op_reads_all {
    static inline void apply(T a, T a_flag, T b, T b_flag, T &out, T &out_flag, T &, unsigned)
    {
        out = static_cast<T>(a | b);
        out_flag = static_cast<T>(a_flag | b_flag);
    }
};
template <typename T>
struct element_op<VXOR, T> : detail::op_reads_all {
    static inline void apply(T a, T a_flag, T b, T b_flag, T &out, T &out_flag, T &, unsigned)
    {
        out = static_cast<T>(a ^ b);
        out_flag = static_cast<T>(a_flag ^ b_flag);
    }
};

template <typename T>
struct element_op<VADD, T> : detail::op_reads_ab {
    static inline void apply(T a, T, T b, T, T &out, T &out_flag, T &, unsigned)
    {
        const T r = detail::wrap_add(a, b);
        out = r;
        out_flag = detail::flag_of<T>(detail::add_flag(a, b, r));
    }
};
template <typename T>
struct element_op<VSUB, T> : detail::op_reads_ab {
    static inline void apply(T a, T, T b, T, T &out, T &out_flag, T &, unsigned)
    {
        const T r = detail::wrap_sub(a, b);
        out = r;
        out_flag = detail::flag_of<T>(detail::sub_flag(a, b, r));
    }
};

// VADDC / VSUBB: add B's flag (carry) to A / subtract it (borrow) from A;
// B's value is not used.
template <typename T>
struct element_op<VADDC, T> : detail::op_reads_a_and_b_flag {
    static inline void apply(T a, T, T, T b_flag, T &out, T &out_flag, T &, unsigned)
    {
        const T r = detail::wrap_add(a, b_flag);
        out = r;
        out_flag = detail::flag_of<T>(detail::add_flag(a, b_flag, r));
    }
};
template <typename T>
struct element_op<VSUBB, T> : detail::op_reads_a_and_b_flag {
    static inline void apply(T a, T, T, T b_flag, T &out, T &out_flag, T &, unsigned)
    {
        const T r = detail::wrap_sub(a, b_flag);
        out = r;
        out_flag = detail::flag_of<T>(detail::sub_flag(a, b_flag, r));
    }
};

// VMUL (VMULLO): low W bits of the product. The signed flag is the
// hardware's sign check (result sign against the operands' signs); the
// unsigned flag says the exact product does not fit in W bits.
template <typename T>
struct element_op<VMUL, T> : detail::op_reads_ab {
    static inline void apply(T a, T, T b, T, T &out, T &out_flag, T &, unsigned)
    {
        using P = typename detail::elem_traits<T>::Prod;
        const P p = static_cast<P>(static_cast<P>(a) * static_cast<P>(b));
        const T r = detail::wrap_to<T>(p);
        out = r;
        if constexpr (detail::elem_traits<T>::is_signed)
            out_flag = detail::flag_of<T>(detail::sign(r) != (detail::sign(a) != detail::sign(b)));
        else
            out_flag = detail::flag_of<T>(p > static_cast<P>(max_int<T>()));
    }
};

// VMULHI: upper W bits of the 2W-bit product (signed or unsigned as T); the
// flag is bit W-1 of the product, the top bit of the discarded low half.
template <typename T>
struct element_op<VMULHI, T> : detail::op_reads_ab {
    static inline void apply(T a, T, T b, T, T &out, T &out_flag, T &, unsigned)
    {
        using P = typename detail::elem_traits<T>::Prod;
        using UP = std::make_unsigned_t<P>;
        constexpr unsigned w = detail::elem_traits<T>::width;
        // The exact product fits in P; its two's complement bit pattern is
        // read as unsigned so that the shifts below pick plain bit fields.
        const UP p = static_cast<UP>(static_cast<P>(static_cast<P>(a) * static_cast<P>(b)));
        out = detail::wrap_to<T>(p >> w);
        out_flag = static_cast<T>((p >> (w - 1)) & 1u);
    }
};

// VMULFXP: fixed-point product with frac fraction bits, rounded half up and
// saturated to T's range; the flag says it saturated.
//   r = (a * b + 2^(frac-1)) >> frac, the shift being a floor for signed T.
// With frac = 0 there is no fraction to round away: the rounding constant is
// 0 and the result is the exact product, saturated.
template <typename T>
struct element_op<VMULFXP, T> : detail::op_saturating {
    static inline void apply(T a, T, T b, T, T &out, T &out_flag, T &, unsigned frac)
    {
        using P = typename detail::elem_traits<T>::Prod;
        frac &= detail::elem_traits<T>::width - 1;
        const P round = frac == 0 ? P(0) : static_cast<P>(P(1) << (frac - 1));
        // |a * b| <= 2^(2W-2) for signed T and a * b < 2^(2W) - 2^(W+1) + 2
        // for unsigned T, so adding round (< 2^(W-1)) stays within P.
        const P r = static_cast<P>(static_cast<P>(static_cast<P>(a) * static_cast<P>(b)) + round) >> frac;
        const bool over = r > static_cast<P>(max_int<T>());
        bool under = false;
        if constexpr (detail::elem_traits<T>::is_signed)
            under = r < static_cast<P>(min_int<T>());
        out = over ? max_int<T>() : under ? min_int<T>() : static_cast<T>(r);
        out_flag = detail::flag_of<T>(over || under);
    }
};

// VSUBFXP / VADDFXP: subtraction / addition saturated to T's range; the flag
// says it saturated.
template <typename T>
struct element_op<VSUBFXP, T> : detail::op_saturating {
    static inline void apply(T a, T, T b, T, T &out, T &out_flag, T &, unsigned)
    {
        const T r = detail::wrap_sub(a, b);
        const bool sat = detail::sub_flag(a, b, r);
        T limit;
        if constexpr (detail::elem_traits<T>::is_signed)
            // Overflow means a and b differ in sign: the true result has a's sign.
            limit = detail::sign(a) ? min_int<T>() : max_int<T>();
        else
            limit = min_int<T>();
        out = sat ? limit : r;
        out_flag = detail::flag_of<T>(sat);
    }
};
template <typename T>
struct element_op<VADDFXP, T> : detail::op_saturating {
    static inline void apply(T a, T, T b, T, T &out, T &out_flag, T &, unsigned)
    {
        const T r = detail::wrap_add(a, b);
        const bool sat = detail::add_flag(a, b, r);
        T limit;
        if constexpr (detail::elem_traits<T>::is_signed)
            // Overflow means a and b share a sign: the true result has it too.
            limit = detail::sign(a) ? min_int<T>() : max_int<T>();
        else
            limit = max_int<T>();
        out = sat ? limit : r;
        out_flag = detail::flag_of<T>(sat);
    }
};

// VSHL: B shifted left by k = a AND 31, computed on B widened to 32 bits and
// truncated to W bits. The flag says the shift lost information: shifting
// the result back (arithmetic for signed T, logical for unsigned) does not
// give B.
template <typename T>
struct element_op<VSHL, T> : detail::op_reads_ab {
    static inline void apply(T a, T, T b, T, T &out, T &out_flag, T &, unsigned)
    {
        using Wide32 = typename detail::elem_traits<T>::Wide32;
        const unsigned k = static_cast<unsigned>(a) & 31u;
        const T r = detail::wrap_to<T>(static_cast<uint32_t>(static_cast<Wide32>(b)) << k);
        out = r;
        out_flag = detail::flag_of<T>((static_cast<Wide32>(r) >> k) != static_cast<Wide32>(b));
    }
};

// VSHR: B widened to 32 bits shifted right by k = a AND 31 (arithmetic for
// signed T, logical for unsigned), truncated to W bits. The flag is the last
// bit shifted out, bit ((a - 1) AND 31) of the widened B, and 0 when A is 0.
// Like the count, that bit number wraps modulo 32.
template <typename T>
struct element_op<VSHR, T> : detail::op_reads_ab {
    static inline void apply(T a, T, T b, T, T &out, T &out_flag, T &, unsigned)
    {
        using Wide32 = typename detail::elem_traits<T>::Wide32;
        const unsigned ua = static_cast<unsigned>(a);
        const unsigned k = ua & 31u;
        const Wide32 wb = static_cast<Wide32>(b);
        out = detail::wrap_to<T>(wb >> k);
        const unsigned last = (ua - 1u) & 31u;
        out_flag = detail::flag_of<T>(a != 0 && ((static_cast<uint32_t>(wb) >> last) & 1u) != 0);
    }
};

// VROTL / VROTR: B rotated within W bits by a AND (W - 1); B's flag is kept.
template <typename T>
struct element_op<VROTL, T> : detail::op_reads_b_and_flag {
    static inline void apply(T a, T, T b, T b_flag, T &out, T &out_flag, T &, unsigned)
    {
        using U = typename detail::elem_traits<T>::U;
        const int n = static_cast<int>(static_cast<unsigned>(a) & (detail::elem_traits<T>::width - 1));
        out = static_cast<T>(std::rotl(static_cast<U>(b), n));
        out_flag = b_flag;
    }
};
template <typename T>
struct element_op<VROTR, T> : detail::op_reads_b_and_flag {
    static inline void apply(T a, T, T b, T b_flag, T &out, T &out_flag, T &, unsigned)
    {
        using U = typename detail::elem_traits<T>::U;
        const int n = static_cast<int>(static_cast<unsigned>(a) & (detail::elem_traits<T>::width - 1));
        out = static_cast<T>(std::rotr(static_cast<U>(b), n));
        out_flag = b_flag;
    }
};

// Conditional moves: A's value and flag when the test on B holds, otherwise
// nothing is written (enable cleared).
template <typename T>
struct element_op<VCMV_LEZ, T> : detail::op_cmv<VCMV_GTZ, true> {
    static inline void apply(T a, T a_flag, T b, T b_flag, T &out, T &out_flag, T &enable, unsigned)
    {
        detail::cmv(detail::cond_lez(b, b_flag), a, a_flag, out, out_flag, enable);
    }
};
template <typename T>
struct element_op<VCMV_GTZ, T> : detail::op_cmv<VCMV_LEZ, true> {
    static inline void apply(T a, T a_flag, T b, T b_flag, T &out, T &out_flag, T &enable, unsigned)
    {
        detail::cmv(!detail::cond_lez(b, b_flag), a, a_flag, out, out_flag, enable);
    }
};
template <typename T>
struct element_op<VCMV_LTZ, T> : detail::op_cmv<VCMV_GEZ, true> {
    static inline void apply(T a, T a_flag, T b, T b_flag, T &out, T &out_flag, T &enable, unsigned)
    {
        detail::cmv(detail::cond_ltz(b, b_flag), a, a_flag, out, out_flag, enable);
    }
};
template <typename T>
struct element_op<VCMV_GEZ, T> : detail::op_cmv<VCMV_LTZ, true> {
    static inline void apply(T a, T a_flag, T b, T b_flag, T &out, T &out_flag, T &enable, unsigned)
    {
        detail::cmv(!detail::cond_ltz(b, b_flag), a, a_flag, out, out_flag, enable);
    }
};
template <typename T>
struct element_op<VCMV_Z, T> : detail::op_cmv<VCMV_NZ, false> {
    static inline void apply(T a, T a_flag, T b, T, T &out, T &out_flag, T &enable, unsigned)
    {
        detail::cmv(b == 0, a, a_flag, out, out_flag, enable);
    }
};
template <typename T>
struct element_op<VCMV_NZ, T> : detail::op_cmv<VCMV_Z, false> {
    static inline void apply(T a, T a_flag, T b, T, T &out, T &out_flag, T &enable, unsigned)
    {
        detail::cmv(b != 0, a, a_flag, out, out_flag, enable);
    }
};

// VABSDIFF: |a - b| by T's own ordering, truncated to W bits; flag 0.
template <typename T>
struct element_op<VABSDIFF, T> : detail::op_reads_ab {
    static inline void apply(T a, T, T b, T, T &out, T &out_flag, T &, unsigned)
    {
        out = b < a ? detail::wrap_sub(a, b) : detail::wrap_sub(b, a);
        out_flag = T(0);
    }
};

// Applies Op to n elements. Element i reads a[i] and, where the opcode uses
// them, a_flag[i], b[i], b_flag[i]; arrays an opcode does not use are never
// dereferenced (they may be null). Results go to out[i] / out_flag[i].
//
// AllEnabled: every element is computed and en is not read. A conditional
// opcode then stores the outcome in en[i]: 1 where it wrote, 0 where the
// condition failed (so en must be writable for those opcodes).
// Otherwise elements with en[i] == 0 are left alone, and a conditional
// opcode clears en[i] where its condition fails.
//
// The result is that of computing the elements one at a time in increasing
// i, so with AllEnabled out may be the same array as a source, except for
// the conditional opcodes. For those, and without AllEnabled, out, out_flag
// and en must not overlap the sources or one another (the engine passes its
// own result arrays there), which lets the compiler vectorise the
// read-modify-write of the old values. The body is
// branch-free (a skipped element stores its old value back) so that loops
// over the ordinary opcodes vectorise.
//
// With EnumB, operand B is the enumeration instead of the arrays b and
// b_flag: element i reads the value b_first + i, wrapped to T, and flag 0
// (what the engine's enumerated operand array would hold). With ScalarA,
// every element reads a[0] and a_flag[0] (a scalar: the broadcast array
// holds the same entry throughout); n must then not be 0. The values of A
// and B may be of a narrower type Src than T; each is converted to T as it
// is read (sign-extended when Src is signed). With every element computed
// by a non-conditional opcode, results and flags may be stored as a
// narrower type Dst: values clamped to Dst's range when Saturate, else
// their low bits; flags (0 or 1) as they are.
template <int Op, typename T, bool AllEnabled, bool EnumB = false, bool ScalarA = false, typename Src = T,
          typename Dst = T, bool Saturate = false>
KMRSIM_ALWAYS_INLINE void op_loop_body(size_t n, const Src *a, const T *a_flag, const Src *b, const T *b_flag,
                                       Dst *out, Dst *out_flag, T *en, unsigned frac, T b_first = T(0))
{
    using E = element_op<Op, T>;
    using U = typename detail::elem_traits<T>::U;
    U next_b = static_cast<U>(b_first);
    const T a0 = ScalarA ? static_cast<T>(a[0]) : T(0);
    const T a0_flag = ScalarA && E::reads_a_flag ? a_flag[0] : T(0);
    for (size_t i = 0; i < n; ++i) {
        const T av = ScalarA ? a0 : static_cast<T>(a[i]);
        const T af = ScalarA ? a0_flag : E::reads_a_flag ? a_flag[i] : T(0);
        T bv = T(0), bf = T(0);
        if constexpr (EnumB) {
            bv = E::reads_b ? static_cast<T>(next_b) : T(0);
            next_b = static_cast<U>(next_b + 1u);
        } else {
            bv = E::reads_b ? static_cast<T>(b[i]) : T(0);
            bf = E::reads_b_flag ? b_flag[i] : T(0);
        }
        if constexpr (E::conditional) {
            const T old = out[i];
            const T old_flag = out_flag[i];
            T o = old, of = old_flag, e = T(1);
            E::apply(av, af, bv, bf, o, of, e, frac);
            if constexpr (AllEnabled) {
                out[i] = o;
                out_flag[i] = of;
                en[i] = e;
            } else {
                const T en_i = en[i];
                const bool write = (en_i != 0) & (e != 0);  // no short circuit: stays branch-free
                out[i] = write ? o : old;
                out_flag[i] = write ? of : old_flag;
                en[i] = write ? en_i : T(0);
            }
        } else {
            T o = T(0), of = T(0), e = T(1);
            E::apply(av, af, bv, bf, o, of, e, frac);
            if constexpr (AllEnabled) {
                if constexpr (Saturate)
                    out[i] = detail::clamp_to<Dst>(o);
                else
                    out[i] = static_cast<Dst>(o);
                out_flag[i] = static_cast<Dst>(of);
            } else {
                // Load the old values unconditionally so the select if-converts.
                const T old = out[i];
                const T old_flag = out_flag[i];
                const bool write = en[i] != 0;
                out[i] = write ? o : old;
                out_flag[i] = write ? of : old_flag;
            }
        }
    }
}

template <int Op, typename T, bool AllEnabled>
requires(AllEnabled && !element_op<Op, T>::conditional) KMRSIM_ALWAYS_INLINE
    void op_loop(size_t n, const T *a, const T *a_flag, const T *b, const T *b_flag, T *out, T *out_flag, T *en,
                 unsigned frac)
{
    op_loop_body<Op, T, true>(n, a, a_flag, b, b_flag, out, out_flag, en, frac);
}
template <int Op, typename T, bool AllEnabled>
requires(AllEnabled &&element_op<Op, T>::conditional) KMRSIM_ALWAYS_INLINE
    void op_loop(size_t n, const T *a, const T *a_flag, const T *b, const T *b_flag, T *__restrict out,
                 T *__restrict out_flag, T *__restrict en, unsigned frac)
{
    op_loop_body<Op, T, true>(n, a, a_flag, b, b_flag, out, out_flag, en, frac);
}
template <int Op, typename T, bool AllEnabled>
requires(!AllEnabled) KMRSIM_ALWAYS_INLINE
    void op_loop(size_t n, const T *a, const T *a_flag, const T *b, const T *b_flag, T *__restrict out,
                 T *__restrict out_flag, T *__restrict en, unsigned frac)
{
    op_loop_body<Op, T, false>(n, a, a_flag, b, b_flag, out, out_flag, en, frac);
}

// op_loop with every element computed, for a non-conditional opcode whose
// vector sources A and B hold elements of a narrower type Src: they are
// converted to T as the loop reads them, instead of into arrays first. The
// results must not overlap the sources.
template <int Op, typename T, typename Src>
KMRSIM_ALWAYS_INLINE void op_loop_widen(size_t n, const Src *__restrict a, const T *a_flag, const Src *__restrict b,
                                        const T *b_flag, T *__restrict out, T *__restrict out_flag, unsigned frac)
{
    op_loop_body<Op, T, true, false, false, Src>(n, a, a_flag, b, b_flag, out, out_flag, nullptr, frac);
}

// op_loop with every element computed and B the enumeration from b_first
// on, generated in the loop rather than read from an array; with ScalarA,
// A is the scalar in a[0] and a_flag[0] (n at least 1).
template <int Op, typename T, bool ScalarA>
requires(!element_op<Op, T>::conditional) KMRSIM_ALWAYS_INLINE
    void op_loop_enum(size_t n, const T *a, const T *a_flag, T b_first, T *out, T *out_flag, T *en, unsigned frac)
{
    op_loop_body<Op, T, true, true, ScalarA, T>(n, a, a_flag, nullptr, nullptr, out, out_flag, en, frac, b_first);
}
template <int Op, typename T, bool ScalarA>
requires(element_op<Op, T>::conditional) KMRSIM_ALWAYS_INLINE
    void op_loop_enum(size_t n, const T *a, const T *a_flag, T b_first, T *__restrict out, T *__restrict out_flag,
                      T *__restrict en, unsigned frac)
{
    op_loop_body<Op, T, true, true, ScalarA, T>(n, a, a_flag, nullptr, nullptr, out, out_flag, en, frac, b_first);
}

// The sum of the results of op_loop with every element computed, each
// result sign-extended for signed T and zero-extended for unsigned T, without
// storing them; only for opcodes that always write (not the conditional
// moves). Flags do not take part in a sum.
template <int Op, typename T>
KMRSIM_ALWAYS_INLINE int64_t op_sum(size_t n, const T *a, const T *a_flag, const T *b, const T *b_flag, unsigned frac)
{
    using E = element_op<Op, T>;
    static_assert(!E::conditional);
    int64_t sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const T af = E::reads_a_flag ? a_flag[i] : T(0);
        const T bv = E::reads_b ? b[i] : T(0);
        const T bf = E::reads_b_flag ? b_flag[i] : T(0);
        T o = T(0), of = T(0), e = T(1);
        E::apply(a[i], af, bv, bf, o, of, e, frac);
        sum += static_cast<int64_t>(o);
    }
    return sum;
}

template <typename T>
using op_loop_fn = void (*)(size_t, const T *, const T *, const T *, const T *, T *, T *, T *, unsigned);
template <typename T>
using op_loop_enum_fn = void (*)(size_t, const T *, const T *, T, T *, T *, T *, unsigned);
template <typename T>
using op_sum_fn = int64_t (*)(size_t, const T *, const T *, const T *, const T *, unsigned);
template <typename T, typename Src>
using op_loop_widen_fn = void (*)(size_t, const Src *, const T *, const Src *, const T *, T *, T *, unsigned);

// Signature of element_op<Op, T>::apply.
template <typename T>
using element_fn = void (*)(T, T, T, T, T &, T &, T &, unsigned);

namespace detail {
// The tables of loops have one entry per built-in opcode, taken from the
// generic or the wide instances (host_isa.hpp).
template <typename T, bool AllEnabled, bool Wide, size_t... I>
constexpr std::array<op_loop_fn<T>, sizeof...(I)> make_op_loop_table(std::index_sequence<I...>)
{
    if constexpr (Wide)
        return {{&isa_instances<static_cast<op_loop_fn<T>>(&op_loop<static_cast<int>(I), T, AllEnabled>)>::wide...}};
    else
        return {{&isa_instances<static_cast<op_loop_fn<T>>(&op_loop<static_cast<int>(I), T, AllEnabled>)>::generic...}};
}
template <typename T, size_t... I>
constexpr std::array<element_fn<T>, sizeof...(I)> make_element_table(std::index_sequence<I...>)
{
    return {{&element_op<static_cast<int>(I), T>::apply...}};
}

template <typename T, bool ScalarA, bool Wide, size_t... I>
constexpr std::array<op_loop_enum_fn<T>, sizeof...(I)> make_op_loop_enum_table(std::index_sequence<I...>)
{
    if constexpr (Wide)
        return {
            {&isa_instances<static_cast<op_loop_enum_fn<T>>(&op_loop_enum<static_cast<int>(I), T, ScalarA>)>::wide...}};
    else
        return {{&isa_instances<static_cast<op_loop_enum_fn<T>>(
            &op_loop_enum<static_cast<int>(I), T, ScalarA>)>::generic...}};
}
// The loops that exist only for the opcodes that are not conditional moves
// (op_sum, op_loop_widen, op_loop_narrow) come in families: a family names
// its type T, its function type fn and its loop for an opcode, and its
// table holds the generic or wide instance of that loop, or nullptr for a
// conditional move.
template <typename Family, int Op, bool Wide>
constexpr typename Family::fn unconditional_instance()
{
    if constexpr (element_op<Op, typename Family::type>::conditional)
        return nullptr;
    else if constexpr (Wide)
        return &isa_instances<Family::template loop<Op>>::wide;
    else
        return &isa_instances<Family::template loop<Op>>::generic;
}
template <typename Family, bool Wide, size_t... I>
constexpr std::array<typename Family::fn, sizeof...(I)> make_unconditional_table(std::index_sequence<I...>)
{
    return {{unconditional_instance<Family, static_cast<int>(I), Wide>()...}};
}
template <typename Family, bool Wide>
inline constexpr auto
    unconditional_table = make_unconditional_table<Family, Wide>(std::make_index_sequence<builtin_op_count>{});

template <typename T>
struct sum_loops {
    using type = T;
    using fn = op_sum_fn<T>;
    template <int Op>
    static constexpr fn loop = &op_sum<Op, T>;
};
template <typename T, typename Src>
struct widen_loops {
    using type = T;
    using fn = op_loop_widen_fn<T, Src>;
    template <int Op>
    static constexpr fn loop = &op_loop_widen<Op, T, Src>;
};

template <typename T, bool ScalarA, bool Wide>
inline constexpr auto
    op_loop_enum_table = make_op_loop_enum_table<T, ScalarA, Wide>(std::make_index_sequence<builtin_op_count>{});
template <typename T, bool AllEnabled, bool Wide>
inline constexpr auto
    op_loop_table = make_op_loop_table<T, AllEnabled, Wide>(std::make_index_sequence<builtin_op_count>{});
template <typename T>
inline constexpr auto element_table = make_element_table<T>(std::make_index_sequence<builtin_op_count>{});
}  // namespace detail

// The array loop for a run-time opcode, chosen once per row or instruction;
// nullptr for an opcode outside 0..23. wide: the instance compiled for AVX2
// (use_wide).
template <typename T, bool AllEnabled>
op_loop_fn<T> select_op_loop(int op, bool wide = wide_vectors)
{
    if (op < 0 || op >= builtin_op_count)
        return nullptr;
    return wide ? detail::op_loop_table<T, AllEnabled, true>[static_cast<size_t>(op)]
                : detail::op_loop_table<T, AllEnabled, false>[static_cast<size_t>(op)];
}

// op_loop_enum for a run-time opcode (scalar_a: A is a scalar); nullptr
// outside 0..23.
template <typename T>
op_loop_enum_fn<T> select_op_loop_enum(int op, bool scalar_a, bool wide = wide_vectors)
{
    if (op < 0 || op >= builtin_op_count)
        return nullptr;
    const auto i = static_cast<size_t>(op);
    if (wide)
        return scalar_a ? detail::op_loop_enum_table<T, true, true>[i] : detail::op_loop_enum_table<T, false, true>[i];
    return scalar_a ? detail::op_loop_enum_table<T, true, false>[i] : detail::op_loop_enum_table<T, false, false>[i];
}

// The loop of a family (see detail::unconditional_table) for a run-time
// opcode; nullptr for a conditional move and outside 0..23.
template <typename Family>
typename Family::fn select_unconditional(int op, bool wide)
{
    if (op < 0 || op >= builtin_op_count)
        return nullptr;
    return wide ? detail::unconditional_table<Family, true>[static_cast<size_t>(op)]
                : detail::unconditional_table<Family, false>[static_cast<size_t>(op)];
}

// op_sum for a run-time opcode; nullptr for a conditional move and outside
// 0..23.
template <typename T>
op_sum_fn<T> select_op_sum(int op, bool wide = wide_vectors)
{
    return select_unconditional<detail::sum_loops<T>>(op, wide);
}

// op_loop_widen for a run-time opcode; nullptr for a conditional move and
// outside 0..23.
template <typename T, typename Src>
op_loop_widen_fn<T, Src> select_op_loop_widen(int op, bool wide = wide_vectors)
{
    return select_unconditional<detail::widen_loops<T, Src>>(op, wide);
}

// The per-element function for a run-time opcode; nullptr outside 0..23.
template <typename T>
element_fn<T> select_element_op(int op)
{
    if (op < 0 || op >= builtin_op_count)
        return nullptr;
    return detail::element_table<T>[static_cast<size_t>(op)];
}

// The facts of one opcode, as the engines consult them at run time.
struct op_info {
    bool reads_a_flag;
    bool reads_b;
    bool reads_b_flag;
    bool conditional;
    bool b_range_checked;
    bool saturates_on_narrowing;
    int inverse_condition;
};

namespace detail {
template <int Op>
constexpr op_info info_of()
{
    using E = element_op<Op, int32_t>;
    return {E::reads_a_flag,           E::reads_b,          E::reads_b_flag, E::conditional, E::b_range_checked,
            E::saturates_on_narrowing, E::inverse_condition};
}
template <size_t... I>
constexpr std::array<op_info, sizeof...(I)> make_op_info(std::index_sequence<I...>)
{
    return {{info_of<int(I)>()...}};
}
}  // namespace detail

// The facts of every built-in opcode, indexed by opcode.
inline constexpr std::array<op_info, builtin_op_count> builtin_op_info =
    detail::make_op_info(std::make_index_sequence<builtin_op_count>());

// A custom function sees every input and may cancel any write; its results
// are narrowed by keeping the low bits.
inline constexpr op_info custom_op_info{true, true, true, true, true, false, -1};

// The facts of any opcode 0 .. MAX_INSTR_VAL.
constexpr const op_info &opcode_info(int op)
{
    return op >= 0 && op < builtin_op_count ? builtin_op_info[size_t(op)] : custom_op_info;
}

// B's flag decides a built-in opcode's result (a carry or borrow in, the bit
// a rotate carries in, the test of a conditional move), rather than being
// combined with A's flag as data.
constexpr bool flag_decides(const op_info &i)
{
    return i.reads_b_flag && (!i.reads_a_flag || i.conditional);
}

// True for the opcodes whose narrowing saturates instead of truncating.
constexpr bool narrows_by_saturation(int op)
{
    return opcode_info(op).saturates_on_narrowing;
}

// op_loop with every element computed, for a non-conditional opcode, whose
// results and flags are stored narrowed to a narrower destination type D
// (as the opcode narrows: clamped or cut to the low bits) instead of into
// arrays of T first. The results must not overlap the sources.
template <int Op, typename T, typename D>
KMRSIM_ALWAYS_INLINE void op_loop_narrow(size_t n, const T *__restrict a, const T *a_flag, const T *__restrict b,
                                         const T *b_flag, D *__restrict out, D *__restrict out_flag, unsigned frac)
{
    op_loop_body<Op, T, true, false, false, T, D, narrows_by_saturation(Op)>(n, a, a_flag, b, b_flag, out, out_flag,
                                                                             nullptr, frac);
}

template <typename T, typename D>
using op_loop_narrow_fn = void (*)(size_t, const T *, const T *, const T *, const T *, D *, D *, unsigned);

namespace detail {
template <typename T, typename D>
struct narrow_loops {
    using type = T;
    using fn = op_loop_narrow_fn<T, D>;
    template <int Op>
    static constexpr fn loop = &op_loop_narrow<Op, T, D>;
};
}  // namespace detail

// op_loop_narrow for a run-time opcode; nullptr for a conditional move and
// outside 0..23.
template <typename T, typename D>
op_loop_narrow_fn<T, D> select_op_loop_narrow(int op, bool wide = wide_vectors)
{
    return select_unconditional<detail::narrow_loops<T, D>>(op, wide);
}

namespace detail {
template <typename D, typename S>
constexpr void check_narrowing_pair()
{
    static_assert(is_element_type_v<D> && is_element_type_v<S>, "element types only");
    static_assert(sizeof(D) <= sizeof(S), "the destination is never wider than the computation type");
    static_assert(std::is_signed_v<D> == std::is_signed_v<S>, "destination and computation type share signedness");
}
}  // namespace detail

}  // namespace kmrsim

// Computes one element with a run-time opcode: element_op<op, T>::apply with
// the current fraction width for T. An opcode outside 0..23 leaves out,
// out_flag and enable untouched.
template <typename T>
void run_func(vinstr_t op, T a, T a_flag, T b, T b_flag, T &out, T &out_flag, T &enable)
{
    const kmrsim::element_fn<T> fn = kmrsim::select_element_op<T>(static_cast<int>(op));
    if (fn != nullptr)
        fn(a, a_flag, b, b_flag, out, out_flag, enable, kmrsim::frac_bits<T>());
}

// Narrows a result from the computation type S to the destination type D.
// Same width: unchanged. Narrower: the fixed-point opcodes (VMULFXP, VSUBFXP,
// VADDFXP) clamp to D's range, every other opcode (custom ones included)
// keeps the low bits. The flag is not affected.
template <typename D, typename S>
D fixed_point_saturate(vinstr_t op, S value)
{
    kmrsim::detail::check_narrowing_pair<D, S>();
    if constexpr (sizeof(D) == sizeof(S)) {
        return static_cast<D>(value);
    } else {
        return kmrsim::narrows_by_saturation(static_cast<int>(op)) ? kmrsim::detail::clamp_to<D>(value)
                                                                   : static_cast<D>(value);
    }
}

namespace kmrsim {
// fixed_point_saturate over n values, with the rule chosen once for op.
template <typename D, typename S>
void narrow_n(int op, size_t n, const S *in, D *out)
{
    detail::check_narrowing_pair<D, S>();
    if constexpr (sizeof(D) == sizeof(S)) {
        for (size_t i = 0; i < n; ++i)
            out[i] = static_cast<D>(in[i]);
    } else if (narrows_by_saturation(op)) {
        for (size_t i = 0; i < n; ++i)
            out[i] = detail::clamp_to<D>(in[i]);
    } else {
        for (size_t i = 0; i < n; ++i)
            out[i] = static_cast<D>(in[i]);
    }
}
}  // namespace kmrsim
