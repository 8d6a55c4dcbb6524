// Vector expression library: classification of expression operands and the
// element widths in which an expression reaches the simulator.
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
// scalars and the enumeration.
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

// The element type of the sources for destination type D when the right
// operand reaches the simulator as B: B's width with D's signedness, or D
// itself when B carries no element type (the enumeration).
template <typename D, typename B, bool b_is_element = is_element<B>::value>
struct _source_resolve {
    using type = typename same_sign_as<B, D>::type;
};
template <typename D, typename B>
struct _source_resolve<D, B, false> {
    using type = typename canonical<D>::type;
};
}  // namespace _internal

template <typename D, typename B>
struct source_resolve : _internal::_source_resolve<D, B> {};

namespace _internal {

// Source element type of a node assigned to destination type D: decided
// by the right operand, else by the left one, else by D.
template <typename D, typename L, typename B>
struct node_source {
    using type = typename std::conditional<is_element<B>::value, typename source_resolve<D, B>::type,
                                           typename source_resolve<D, typename value_type<L>::type>::type>::type;
};

// Whether operand X agrees in width with the source type S (operands that
// carry no element type always do).
template <typename X, typename S, typename V = typename value_type<X>::type>
struct width_agrees : std::integral_constant<bool, sizeof(V) == sizeof(S)> {};
template <typename X, typename S>
struct width_agrees<X, S, void> : std::true_type {};

}  // namespace _internal
}  // namespace KMR
