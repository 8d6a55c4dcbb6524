// Vector expression library: the operators that build expression nodes.
//
// An operator does no work; it returns a bin_op node whose assignment to a
// Vector issues the instruction. Operands are vectors, integer scalars,
// KMR::ENUM (the element index) and other expressions (evaluated into a
// temporary first). The node puts every operand where the instruction
// reads it:
//
//   x + y, x * y, x & y, x | y, x ^ y   VADD, VMUL, VAND, VOR, VXOR; operands
//                                       are swapped when needed so that a
//                                       scalar is operand A and ENUM operand B
//   x - y                               VSUB; vector - scalar and ENUM - scalar
//                                       become VADD of the negated scalar (same
//                                       values; the flag is that of an addition)
//   x << k, x >> k                      VSHL, VSHR: shift x (vector or ENUM) by
//                                       k (scalar or vector)
//   -x                                  VSUB of 0 and x
//
// Combinations that no instruction form can express (two scalars, ENUM with
// ENUM, ENUM - vector, scalar << anything, anything << ENUM) do not compile.
// Compound assignments (v += x, ...) assign v = v op x.
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

// The node for operand A of type A_t and operand B of type B_t.
template <vinstr_t instr, typename A_t, typename B_t>
using node_t = bin_op<A_t, B_t, instr, typename b_type<B_t>::type,
                      dimensions_match<operand_dim<A_t>::value, operand_dim<B_t>::value>::dim, NO_ACC>;

template <vinstr_t instr, typename A_t, typename B_t>
inline node_t<instr, A_t, B_t> make_node(const A_t &a, const B_t &b)
{
    static_assert(!is_enum<A_t>::value, "ENUM can only be the second operand of an instruction (no form reads it as "
                                        "operand A)");
    static_assert(!is_scalar<B_t>::value, "a scalar can only be the first operand of an instruction (no form reads it "
                                          "as operand B)");
    return node_t<instr, A_t, B_t>(a, b);
}

template <vinstr_t instr>
struct is_commutative
    : std::integral_constant<bool, instr == VADD || instr == VMUL || instr == VAND || instr == VOR || instr == VXOR> {};

// Wrapping negation of a scalar (the most negative word stays itself).
inline kmr_word_t negate_word(kmr_word_t s)
{
    return static_cast<kmr_word_t>(0u - static_cast<uint32_t>(s));
}

// Builds the node of `l OP r` (see the header comment for the operand order).
template <vinstr_t instr, typename L0, typename R0>
inline auto make_op(const L0 &l0, const R0 &r0)
{
    using L = typename normalized<L0>::type;
    using R = typename normalized<R0>::type;
    const L &l = normalize(l0, is_scalar<L0>());
    const R &r = normalize(r0, is_scalar<R0>());

    if constexpr (instr == VSHL || instr == VSHR) {
        // The value is operand B, the shift count operand A.
        return make_node<instr>(r, l);
    } else if constexpr (is_commutative<instr>::value) {
        if constexpr (is_scalar<R>::value || (is_enum<L>::value && !is_scalar<L>::value && !is_enum<R>::value)) {
            return make_node<instr>(r, l);
        } else {
            return make_node<instr>(l, r);
        }
    } else if constexpr (instr == VSUB && is_scalar<R>::value) {
        return make_node<VADD>(negate_word(r), l);
    } else {
        return make_node<instr>(l, r);
    }
}

// The operators apply when both operands are operands and at least one of
// them is the library's own (a vector, ENUM or an expression).
template <typename L, typename R>
using enable_operator_t = typename std::enable_if<
    is_operand<L>::value && is_operand<R>::value && (is_kmr_operand<L>::value || is_kmr_operand<R>::value), int>::type;

}  // namespace _internal

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

}  // namespace KMR
