// Vector expression library: the operators and named functions that build
// expression nodes, comparisons (conditions), select and sum.
//
// An operator does no work; it returns a bin_op node whose assignment to a
// Vector issues the instruction. Operands are vectors, integer scalars,
// KMR::ENUM (the element index) and other expressions (evaluated into a
// temporary first). A node puts every operand where the instruction reads
// it: a scalar can only be operand A, the enumeration only operand B.
//
//   x + y, x * y, x & y, x | y, x ^ y   VADD, VMUL, VAND, VOR, VXOR; operands are
//                                       swapped so that a scalar is operand A and
//                                       ENUM operand B (values and flags of these
//                                       opcodes do not depend on the order)
//   x - y                               VSUB of x and y. A scalar y is first moved
//                                       into a temporary (VMOV), and so is ENUM as
//                                       x when y is a scalar, so that the flag is
//                                       the subtraction's
//   x << k, x >> k                      VSHL, VSHR: shift x (vector or ENUM) by k
//   -x, ~x                              VSUB of 0 and x; VXOR of -1 and x
//   x < y, x <= y, x > y, x >= y,       a condition: one VSUB whose flag-aware
//   x == y, x != y                      sign decides (see condition below)
//
// Combinations that no instruction form can express (two scalars, ENUM with
// ENUM, ENUM - vector, scalar << anything, anything << ENUM) do not
// compile; KMR::as_vector(x) turns a scalar or ENUM into a vector operand
// (one instruction, a temporary). Compound assignments (v += x, ...) assign
// v = v op x.
#pragma once

#include <cstdint>
#include <type_traits>

#include "expression_width.hpp"
#include "fwd_declaration.hpp"
#include "type_manipulation.hpp"

namespace KMR {
namespace _internal {

// Scalars of any integer type become kmr_word_t; other operands pass through.
template <typename X>
struct normalized {
    using type = typename std::conditional<is_scalar<X>::value, kmr_word_t, X>::type;
};

template <typename X>
inline const typename normalized<X>::type &normalize(const X &x, std::false_type /*not a scalar*/)
{
    return x;
}
template <typename X>
inline kmr_word_t normalize(const X &x, std::true_type /*scalar*/)
{
    return static_cast<kmr_word_t>(x);
}
template <typename X>
inline decltype(auto) normalize(const X &x)
{
    return normalize(x, is_scalar<X>());
}

// The node for operand A of type A_t and operand B of type B_t.
template <vinstr_t instr, typename A_t, typename B_t, acc_choice acc = NO_ACC>
using node_t = bin_op<A_t, B_t, instr, typename b_type<B_t>::type,
                      dimensions_match<operand_dim<A_t>::value, operand_dim<B_t>::value>::dim, acc>;

template <vinstr_t instr, acc_choice acc = NO_ACC, typename A_t, typename B_t>
inline node_t<instr, A_t, B_t, acc> make_node(const A_t &a, const B_t &b)
{
    static_assert(!is_enum<A_t>::value, "ENUM can only be the second operand of an instruction (no form reads it as "
                                        "operand A; KMR::as_vector(ENUM) makes it a vector)");
    static_assert(!is_scalar<B_t>::value, "a scalar can only be the first operand of an instruction (no form reads it "
                                          "as operand B; KMR::as_vector(s) makes it a vector)");
    static_assert(!is_none<B_t>::value || instr == VMOV, "only a copy has no operand B");
    static_assert(signs_agree<A_t, B_t>::value,
                  "vector operands of one expression must have the same signedness (copy one into a vector of the "
                  "other signedness first)");
    return node_t<instr, A_t, B_t, acc>(a, b);
}

// A scalar or ENUM as a vector operand: a node that evaluates it into a
// temporary (VMOV of the scalar; VADD of 0 and ENUM). Vectors and
// expressions are operands already.
template <typename X, typename std::enable_if<is_scalar<X>::value, int>::type = 0>
inline auto materialize(const X &x)
{
    return make_node<VMOV>(static_cast<kmr_word_t>(x), none_t());
}
template <typename X, typename std::enable_if<is_enum<X>::value, int>::type = 0>
inline auto materialize(const X &x)
{
    return make_node<VADD>(kmr_word_t(0), x);
}
template <typename X, typename std::enable_if<!is_scalar<X>::value && !is_enum<X>::value, int>::type = 0>
inline const X &materialize(const X &x)
{
    return x;
}

template <vinstr_t instr>
struct is_commutative
    : std::integral_constant<bool, instr == VADD || instr == VMUL || instr == VAND || instr == VOR || instr == VXOR ||
                                       instr == VMULHI || instr == VMULFXP || instr == VADDFXP || instr == VABSDIFF> {};

// Opcodes that take the value from operand B and the amount from operand A.
template <vinstr_t instr>
struct is_shift : std::integral_constant<bool, instr == VSHL || instr == VSHR || instr == VROTL || instr == VROTR> {};

template <vinstr_t instr>
struct is_subtraction : std::integral_constant<bool, instr == VSUB || instr == VSUBFXP> {};

// Builds the node of `l OP r` (see the header comment for the operand order).
template <vinstr_t instr, typename L0, typename R0>
inline auto make_op(const L0 &l0, const R0 &r0)
{
    using L = typename normalized<L0>::type;
    using R = typename normalized<R0>::type;
    const L &l = normalize(l0);
    const R &r = normalize(r0);

    if constexpr (is_shift<instr>::value) {
        // The value is operand B, the amount operand A.
        return make_node<instr>(r, l);
    } else if constexpr (is_commutative<instr>::value) {
        if constexpr (is_scalar<R>::value || (is_enum<L>::value && !is_scalar<L>::value && !is_enum<R>::value)) {
            return make_node<instr>(r, l);
        } else {
            return make_node<instr>(l, r);
        }
    } else if constexpr (is_subtraction<instr>::value && is_scalar<R>::value) {
        // No form reads a scalar as operand B: the scalar (and ENUM as
        // operand A) go through temporaries, so that the instruction is the
        // subtraction itself, flags included.
        return make_node<instr>(materialize(l), materialize(r));
    } else {
        return make_node<instr>(l, r);
    }
}

// The operators apply when both operands are operands and at least one of
// them is the library's own (a vector, ENUM or an expression).
template <typename L, typename R>
using enable_operator_t = typename std::enable_if<
    is_operand<L>::value && is_operand<R>::value && (is_kmr_operand<L>::value || is_kmr_operand<R>::value), int>::type;
template <typename L, typename R>
using enable_function_t = typename std::enable_if<is_operand<L>::value && is_operand<R>::value, int>::type;

// The condition that holds exactly where `cmv` fails.
constexpr vinstr_t inverse_condition(vinstr_t cmv)
{
    return cmv == VCMV_LEZ   ? VCMV_GTZ
           : cmv == VCMV_GTZ ? VCMV_LEZ
           : cmv == VCMV_LTZ ? VCMV_GEZ
           : cmv == VCMV_GEZ ? VCMV_LTZ
           : cmv == VCMV_Z   ? VCMV_NZ
                             : VCMV_Z;
}

// l - r < 0 holds exactly where r - l > 0 does, and so on.
constexpr vinstr_t mirrored_condition(vinstr_t cmv)
{
    return cmv == VCMV_LEZ   ? VCMV_GEZ
           : cmv == VCMV_GEZ ? VCMV_LEZ
           : cmv == VCMV_LTZ ? VCMV_GTZ
           : cmv == VCMV_GTZ ? VCMV_LTZ
                             : cmv;
}

template <vinstr_t cmv, typename L0, typename R0>
inline auto make_condition(const L0 &l0, const R0 &r0)
{
    using L = typename normalized<L0>::type;
    using R = typename normalized<R0>::type;
    const L &l = normalize(l0);
    const R &r = normalize(r0);
    if constexpr (is_enum<L>::value || is_scalar<R>::value) {
        using D = decltype(make_node<VSUB>(r, l));
        return condition<D, mirrored_condition(cmv)>(make_node<VSUB>(r, l));
    } else {
        using D = decltype(make_node<VSUB>(l, r));
        return condition<D, cmv>(make_node<VSUB>(l, r));
    }
}

}  // namespace _internal

// A comparison: `diff` is the subtraction (operand A minus operand B) whose
// flag-aware sign decides it, `cmv` the conditional-move opcode that holds
// where the comparison does. The difference is evaluated into a temporary
// by whatever consumes the condition (KMR_WHERE, select). A condition
// holds references to its vector operands: use it within the full
// expression that makes it.
template <typename Diff, vinstr_t cmv>
struct condition {
    static_assert(cmv >= VCMV_LEZ && cmv <= VCMV_NZ, "a condition is tested by a conditional move");
    static constexpr vinstr_t opcode = cmv;
    const Diff diff;
    explicit condition(const Diff &d) : diff(d) {}
};

// The condition that holds where c does not (no extra instruction).
template <typename Diff, vinstr_t cmv>
inline condition<Diff, _internal::inverse_condition(cmv)> operator!(const condition<Diff, cmv> &c)
{
    return condition<Diff, _internal::inverse_condition(cmv)>(c.diff);
}

// The result of select(c, x, y); see assign.hpp for what its assignment issues.
template <typename Cond, typename X, typename Y>
struct select_op {
    const Cond cond;
    typename std::conditional<_internal::is_vector<X>::value, const X &, const X>::type x;
    typename std::conditional<_internal::is_vector<Y>::value || _internal::is_enum<Y>::value, const Y &, const Y>::type
        y;
    select_op(const Cond &c, const X &x_, const Y &y_) : cond(c), x(x_), y(y_) {}
};

#define KMR_DEFINE_BINARY_OPERATOR_(op, instr)                                                      \
    template <typename L, typename R, _internal::enable_operator_t<L, R> = 0>                       \
    inline auto operator op(const L &lhs, const R &rhs)                                             \
    {                                                                                               \
        return _internal::make_op<instr>(lhs, rhs);                                                 \
    }                                                                                               \
    template <typename T, int dim, typename R, _internal::enable_operator_t<Vector<T, dim>, R> = 0> \
    inline Vector<T, dim> &operator op##=(Vector<T, dim> &lhs, const R &rhs)                        \
    {                                                                                               \
        return lhs = _internal::make_op<instr>(lhs, rhs);                                           \
    }

KMR_DEFINE_BINARY_OPERATOR_(+, VADD)
KMR_DEFINE_BINARY_OPERATOR_(-, VSUB)
KMR_DEFINE_BINARY_OPERATOR_(*, VMUL)
KMR_DEFINE_BINARY_OPERATOR_(&, VAND)
KMR_DEFINE_BINARY_OPERATOR_(|, VOR)
KMR_DEFINE_BINARY_OPERATOR_(^, VXOR)
KMR_DEFINE_BINARY_OPERATOR_(<<, VSHL)
KMR_DEFINE_BINARY_OPERATOR_(>>, VSHR)

#undef KMR_DEFINE_BINARY_OPERATOR_

// -x: VSUB of 0 and x.
template <typename X, typename std::enable_if<_internal::is_kmr_operand<X>::value, int>::type = 0>
inline auto operator-(const X &x)
{
    return _internal::make_node<VSUB>(kmr_word_t(0), x);
}

// ~x: VXOR of -1 and x (the flag is x's).
template <typename X, typename std::enable_if<_internal::is_kmr_operand<X>::value, int>::type = 0>
inline auto operator~(const X &x)
{
    return _internal::make_node<VXOR>(kmr_word_t(-1), x);
}

#define KMR_DEFINE_COMPARISON_(op, cmv)                                       \
    template <typename L, typename R, _internal::enable_operator_t<L, R> = 0> \
    inline auto operator op(const L &lhs, const R &rhs)                       \
    {                                                                         \
        return _internal::make_condition<cmv>(lhs, rhs);                      \
    }

KMR_DEFINE_COMPARISON_(<, VCMV_LTZ)
KMR_DEFINE_COMPARISON_(<=, VCMV_LEZ)
KMR_DEFINE_COMPARISON_(>, VCMV_GTZ)
KMR_DEFINE_COMPARISON_(>=, VCMV_GEZ)
KMR_DEFINE_COMPARISON_(==, VCMV_Z)
KMR_DEFINE_COMPARISON_(!=, VCMV_NZ)

#undef KMR_DEFINE_COMPARISON_

// ---------------------------------------------------------------------------
// Named functions: one per opcode, named after it in lower case. Each builds
// the node of one instruction.
//
// In natural order, operands swapped or moved into temporaries as for the
// operators (a scalar is operand A, ENUM operand B):
//   vadd, vsub, vmul (= vmullo), vmulhi, vmulfxp, vaddfxp, vsubfxp,
//   vabsdiff, vand, vor, vxor                           f(x, y)
// Value and amount (the amount is operand A, the value operand B):
//   vshl, vshr, vrotl, vrotr                            f(x, k)
// In instruction order, nothing swapped (operand A, operand B):
//   vaddc(a, b), vsubb(a, b)    a plus / minus the flag of b
//   vcmv_lez, vcmv_gtz, vcmv_ltz, vcmv_gez, vcmv_z, vcmv_nz
//                     (x, c)    x where the condition holds on c; elsewhere
//                               the destination keeps its elements
//   vcustom<k>(a, b)            VCUSTOMk
//   op<OPCODE>(a, b)            any opcode
// One operand:
//   vmov(x)                     VMOV: a copy of a vector or scalar
//   as_vector(x)                x as a vector operand (see materialize)
//   sum(x)                      accumulates x (see assign.hpp)
//   select(c, x, y)             x where condition c holds, else y

#define KMR_DEFINE_NAMED_(name, instr)                                        \
    template <typename L, typename R, _internal::enable_function_t<L, R> = 0> \
    inline auto name(const L &x, const R &y)                                  \
    {                                                                         \
        return _internal::make_op<instr>(x, y);                               \
    }
KMR_DEFINE_NAMED_(vadd, VADD)
KMR_DEFINE_NAMED_(vsub, VSUB)
KMR_DEFINE_NAMED_(vmul, VMUL)
KMR_DEFINE_NAMED_(vmullo, VMULLO)
KMR_DEFINE_NAMED_(vmulhi, VMULHI)
KMR_DEFINE_NAMED_(vmulfxp, VMULFXP)
KMR_DEFINE_NAMED_(vaddfxp, VADDFXP)
KMR_DEFINE_NAMED_(vsubfxp, VSUBFXP)
KMR_DEFINE_NAMED_(vabsdiff, VABSDIFF)
KMR_DEFINE_NAMED_(vand, VAND)
KMR_DEFINE_NAMED_(vor, VOR)
KMR_DEFINE_NAMED_(vxor, VXOR)
KMR_DEFINE_NAMED_(vshl, VSHL)
KMR_DEFINE_NAMED_(vshr, VSHR)
KMR_DEFINE_NAMED_(vrotl, VROTL)
KMR_DEFINE_NAMED_(vrotr, VROTR)
#undef KMR_DEFINE_NAMED_

// Any opcode with operand A and operand B as given.
template <vinstr_t instr, typename A, typename B, _internal::enable_function_t<A, B> = 0>
inline auto op(const A &a, const B &b)
{
    return _internal::make_node<instr>(_internal::normalize(a), _internal::normalize(b));
}

#define KMR_DEFINE_ORDERED_(name, instr)                                      \
    template <typename A, typename B, _internal::enable_function_t<A, B> = 0> \
    inline auto name(const A &a, const B &b)                                  \
    {                                                                         \
        return op<instr>(a, b);                                               \
    }
KMR_DEFINE_ORDERED_(vaddc, VADDC)
KMR_DEFINE_ORDERED_(vsubb, VSUBB)
KMR_DEFINE_ORDERED_(vcmv_lez, VCMV_LEZ)
KMR_DEFINE_ORDERED_(vcmv_gtz, VCMV_GTZ)
KMR_DEFINE_ORDERED_(vcmv_ltz, VCMV_LTZ)
KMR_DEFINE_ORDERED_(vcmv_gez, VCMV_GEZ)
KMR_DEFINE_ORDERED_(vcmv_z, VCMV_Z)
KMR_DEFINE_ORDERED_(vcmv_nz, VCMV_NZ)
#undef KMR_DEFINE_ORDERED_

// VCUSTOMk: operand A and operand B as given.
template <int k, typename A, typename B, _internal::enable_function_t<A, B> = 0>
inline auto vcustom(const A &a, const B &b)
{
    static_assert(k >= 0 && k < KMRSIM_NUM_CUSTOM, "custom opcodes are VCUSTOM0 .. VCUSTOM15");
    return op<static_cast<vinstr_t>(VCUSTOM0 + k)>(a, b);
}

// A copy of a vector, scalar or expression (one VMOV).
template <typename X, typename std::enable_if<_internal::is_operand<X>::value, int>::type = 0>
inline auto vmov(const X &x)
{
    return _internal::make_node<VMOV>(_internal::normalize(x), _internal::none_t());
}

// x as a vector operand: a scalar is moved into a temporary (VMOV), ENUM
// enumerated into one (VADD of 0 and ENUM); vectors and expressions are
// returned as they are.
template <typename X, typename std::enable_if<_internal::is_operand<X>::value, int>::type = 0>
inline decltype(auto) as_vector(const X &x)
{
    return _internal::materialize(x);
}

namespace _internal {
template <typename L, typename R, vinstr_t i, typename B, int d, acc_choice a>
inline bin_op<L, R, i, B, d, IS_ACC> accumulating(const bin_op<L, R, i, B, d, a> &e)
{
    // A sum stays a sum: v[i] = sum(x) is v[i] = x.
    return bin_op<L, R, i, B, d, IS_ACC>(e.lhs, e.rhs);
}
}  // namespace _internal

// The sum of x's elements, row by row: assigned to a vector, each row's sum
// goes to element 0 of the destination's row (an accumulating instruction;
// a vector is summed by an accumulating VMOV, a scalar by VMOV of it, ENUM
// by VADD of 0 and ENUM, an expression by its own opcode).
template <typename X, typename std::enable_if<_internal::is_operand<X>::value, int>::type = 0>
inline auto sum(const X &x)
{
    if constexpr (_internal::is_vector<X>::value || _internal::is_scalar<X>::value) {
        return _internal::make_node<VMOV, IS_ACC>(_internal::normalize(x), _internal::none_t());
    } else if constexpr (_internal::is_enum<X>::value) {
        return _internal::make_node<VADD, IS_ACC>(kmr_word_t(0), x);
    } else {
        return _internal::accumulating(x);
    }
}

// x where condition c holds, y elsewhere.
template <typename Diff, vinstr_t cmv, typename X, typename Y,
          typename std::enable_if<_internal::is_operand<X>::value && _internal::is_operand<Y>::value, int>::type = 0>
inline auto select(const condition<Diff, cmv> &c, const X &x, const Y &y)
{
    using XN = typename _internal::normalized<X>::type;
    using YN = typename _internal::normalized<Y>::type;
    static_assert(!_internal::is_enum<XN>::value, "select moves x as operand A: x cannot be ENUM "
                                                  "(KMR::as_vector(ENUM) makes it a vector)");
    return select_op<condition<Diff, cmv>, XN, YN>(c, _internal::normalize(x), _internal::normalize(y));
}

}  // namespace KMR
