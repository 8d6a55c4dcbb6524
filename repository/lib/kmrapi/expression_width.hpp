// Vector expression library: classification of expression operands, the
// element widths in which an expression reaches the simulator, and the
// signedness an expression computes in.
#pragma once

#include <type_traits>

#include "fwd_declaration.hpp"
#include "type_manipulation.hpp"

namespace KMR {
namespace _internal {

// Operand categories. A vector and a sub-expression both reach the
// simulator as scratchpad addresses; a scalar as a 32-bit value; the
// enumeration as a null kmr_enum_t pointer.
template <typename X>
struct is_vector : std::false_type {};
template <typename T, int d>
struct is_vector<Vector<T, d>> : std::true_type {};

template <typename X>
struct is_enum : std::is_same<X, enum_t> {};

template <typename X>
struct is_none : std::is_same<X, none_t> {};

template <typename X>
struct is_expr : std::false_type {};
template <typename L, typename R, vinstr_t i, typename B, int d, acc_choice a>
struct is_expr<bin_op<L, R, i, B, d, a>> : std::true_type {};

// Any integer (except bool) may be a scalar operand; it becomes a kmr_word_t.
template <typename X>
struct is_scalar : std::integral_constant<bool, std::is_integral<X>::value && !std::is_same<X, bool>::value> {};

template <typename X>
struct is_operand : std::integral_constant<bool, is_vector<X>::value || is_enum<X>::value || is_expr<X>::value ||
                                                     is_scalar<X>::value> {};

// True for the library's own operand types (at least one operand of an
// operator must be one, so that plain integer arithmetic is left alone).
template <typename X>
struct is_kmr_operand : std::integral_constant<bool, is_vector<X>::value || is_enum<X>::value || is_expr<X>::value> {};

// Dimensionality of an operand: that of a vector or expression, -1 for
// scalars, the enumeration and the missing operand.
template <typename X>
struct operand_dim : std::integral_constant<int, -1> {};
template <typename T, int d>
struct operand_dim<Vector<T, d>> : std::integral_constant<int, d> {};
template <typename L, typename R, vinstr_t i, typename B, int d, acc_choice a>
struct operand_dim<bin_op<L, R, i, B, d, a>> : std::integral_constant<int, d> {};

// The element type that an operand carries, void when it has none (a
// scalar, the enumeration, or an expression without vector operands).
template <typename X>
struct value_type {
    using type = void;
};
template <typename T, int d>
struct value_type<Vector<T, d>> {
    using type = T;
};
template <typename L, typename R, vinstr_t i, typename B, int d, acc_choice a>
struct value_type<bin_op<L, R, i, B, d, a>> {
    using type = typename std::conditional<is_element<B>::value, B, typename value_type<L>::type>::type;
};

// The type in which the right operand reaches the simulator: the element
// type of a vector, kmr_enum_t for the enumeration, the carried element
// type of a sub-expression (void if it carries none).
template <typename R>
struct b_type {
    using type = typename value_type<R>::type;
};
template <>
struct b_type<enum_t> {
    using type = kmr_enum_t;
};

// The signedness an expression computes in: that of its vectors (all of
// them agree, see signs_agree), or none when it has no vector operand; it
// then takes the destination's.
enum expr_signedness {
    SIGN_FREE = 0,
    SIGN_SIGNED = 1,
    SIGN_UNSIGNED = 2
};
template <typename X>
struct expr_sign : std::integral_constant<int, SIGN_FREE> {};
template <typename T, int d>
struct expr_sign<Vector<T, d>> : std::integral_constant<int, std::is_signed<T>::value ? SIGN_SIGNED : SIGN_UNSIGNED> {};
template <typename L, typename R, vinstr_t i, typename B, int d, acc_choice a>
struct expr_sign<bin_op<L, R, i, B, d, a>>
    : std::integral_constant<int, expr_sign<L>::value != SIGN_FREE ? expr_sign<L>::value : expr_sign<R>::value> {};

template <typename A, typename B>
struct signs_agree
    : std::integral_constant<bool, expr_sign<A>::value == SIGN_FREE || expr_sign<B>::value == SIGN_FREE ||
                                       expr_sign<A>::value == expr_sign<B>::value> {};

// Whether an expression assigned to destination type D computes signed.
template <typename X, typename D>
struct computes_signed
    : std::integral_constant<bool, expr_sign<X>::value == SIGN_FREE ? std::is_signed<D>::value
                                                                    : expr_sign<X>::value == SIGN_SIGNED> {};

// The element width (bytes) of the sources of a node assigned to element
// type D: decided by the right operand, else by the left one, else by D.
template <typename D, typename L, typename B>
struct node_width
    : std::integral_constant<std::size_t,
                             is_element<B>::value ? sizeof(typename std::conditional<is_element<B>::value, B, D>::type)
                             : is_element<typename value_type<L>::type>::value
                                 ? sizeof(typename std::conditional<is_element<typename value_type<L>::type>::value,
                                                                    typename value_type<L>::type, D>::type)
                                 : sizeof(D)> {};

// Source element type of a node: its width with the given signedness.
template <typename D, typename L, typename B, bool is_signed>
struct node_source {
    using type = typename _int_of<node_width<D, L, B>::value, is_signed>::type;
};

// Whether operand X agrees in width with the source type S (operands that
// carry no element type always do).
template <typename X, typename S, typename V = typename value_type<X>::type>
struct width_agrees : std::integral_constant<bool, sizeof(V) == sizeof(S)> {};
template <typename X, typename S>
struct width_agrees<X, S, void> : std::true_type {};

// Opcodes whose results saturate (also when narrowed to the destination).
template <vinstr_t instr>
struct saturates : std::integral_constant<bool, instr == VMULFXP || instr == VADDFXP || instr == VSUBFXP> {};

}  // namespace _internal

// The source element type for destination D and right operand type B: B's
// width with D's signedness, or D itself when B carries no element type.
template <typename D, typename B, bool b_is_element = is_element<B>::value>
struct source_resolve {
    using type = typename same_sign_as<B, D>::type;
};
template <typename D, typename B>
struct source_resolve<D, B, false> {
    using type = typename canonical<D>::type;
};

}  // namespace KMR
