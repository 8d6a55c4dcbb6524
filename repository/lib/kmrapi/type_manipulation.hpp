// Vector expression library: compile-time type traits over element types.
#pragma once

#include <cstdint>
#include <type_traits>

#include "fwd_declaration.hpp"

namespace KMR {

// The fixed-width integer type of a given size and signedness.
template <std::size_t bytes, bool is_signed>
struct _int_of;
template <>
struct _int_of<1, true> {
    using type = int8_t;
};
template <>
struct _int_of<1, false> {
    using type = uint8_t;
};
template <>
struct _int_of<2, true> {
    using type = int16_t;
};
template <>
struct _int_of<2, false> {
    using type = uint16_t;
};
template <>
struct _int_of<4, true> {
    using type = int32_t;
};
template <>
struct _int_of<4, false> {
    using type = uint32_t;
};

// Whether T can be a scratchpad element: an 8-, 16- or 32-bit integer.
template <typename T, bool integral = std::is_integral<T>::value && !std::is_same<T, bool>::value>
struct is_element : std::integral_constant<bool, sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4> {};
template <typename T>
struct is_element<T, false> : std::false_type {};

// The fixed-width type that the dispatch uses for an element type (plain
// char, signed char and int8_t all become int8_t on a signed-char target).
template <typename T>
struct canonical {
    static_assert(is_element<T>::value, "vector elements must be 8-, 16- or 32-bit integers");
    using type = typename _int_of<sizeof(T), std::is_signed<T>::value>::type;
};

// The word-sized type of T's signedness: the type in which scalars reach
// the simulator.
template <typename T, bool is_signed>
struct _word_sized {
    using type = kmr_word_t;
};
template <typename T>
struct _word_sized<T, false> {
    using type = uint32_t;
};
template <typename T>
struct word_sized : _word_sized<T, std::is_signed<T>::value> {};

// The signed type of T's width.
template <typename T>
struct signed_conv {
    using type = typename std::make_signed<T>::type;
};

// T with the signedness of U (the destination decides the signedness of an
// instruction, so sources are reinterpreted to match it).
template <typename T, typename U, bool use_signed>
struct _same_sign {
    using type = typename canonical<typename std::make_signed<T>::type>::type;
};
template <typename T, typename U>
struct _same_sign<T, U, false> {
    using type = typename canonical<typename std::make_unsigned<T>::type>::type;
};
template <typename T, typename U>
struct same_sign_as : _same_sign<T, U, std::is_signed<U>::value> {};

// The dimensionality shared by two operands; -1 stands for "no vector
// operand" and matches anything.
template <int dim1, int dim2>
struct dimensions_match {
    static_assert(dim1 == dim2 || dim1 == -1 || dim2 == -1,
                  "vector operands of one expression must have the same dimensionality");
    static const int dim = (dim1 == -1) ? dim2 : dim1;
};

}  // namespace KMR
