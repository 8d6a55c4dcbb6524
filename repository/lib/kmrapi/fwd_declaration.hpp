// Vector expression library: the namespace, its enumerations and forward
// declarations of every class template, so that the headers can refer to
// each other in any order. Programs include Vector.hpp, not this file.
#pragma once

#include <assert.h>

#include <cstddef>
#include <cstdio>

#include "kmr_api.h"

// The library's invariant checks stay active in every build type, NDEBUG or
// not: they report like a standard assertion and abort. <assert.h> only
// declares the reporting function when NDEBUG is not defined.
#ifndef _ASSERT_H_DECLS
extern "C" void __assert_fail(const char *assertion, const char *file, unsigned int line, const char *function) noexcept
    __attribute__((__noreturn__));
#endif

namespace KMR {
namespace _internal {
// Reports a failed check: standard output is flushed first, so that what the
// program printed before the failure is not lost with the abort.
[[noreturn]] inline void vec_assert_fail(const char *expr, const char *file, unsigned int line, const char *function)
{
    std::fflush(stdout);
    __assert_fail(expr, file, line, function);
}

// A vector's storage does not fit: says how much was asked and how much is
// free before the check stops the program.
inline void report_failed_allocation(size_t bytes)
{
    std::fflush(stdout);
    std::fprintf(stderr, "Error: a vector of %zu bytes does not fit in the scratchpad (%d bytes free of %d)\n", bytes,
                 kmr_sp_getfree(), kmr_tqm_ptr != nullptr ? kmr_tqm_ptr->scratchpad_size : 0);
}
}  // namespace _internal
}  // namespace KMR

#define KMR_VEC_ASSERT(expr)       \
    ((expr) ? static_cast<void>(0) \
            : KMR::_internal::vec_assert_fail(#expr, __FILE__, static_cast<unsigned int>(__LINE__), __PRETTY_FUNCTION__))

namespace KMR {

// Whether an assignment runs under the current mask (inside a masked region).
enum mask_choice {
    NO_MASK = 0,
    IS_MASK = 1
};

// Whether an instruction reduces each row to a sum in its element 0.
enum acc_choice {
    NO_ACC = 0,
    IS_ACC = 1
};

namespace _internal {
// How conditions combine.
enum log_op_t {
    LOGICAL_OR = 0,
    LOGICAL_AND = 1,
    NONE = 2
};
}  // namespace _internal

// The element type T and the dimensionality (1, 2 or 3). The class
// definition in Vector.hpp names the second parameter `dim`.
template <typename T, int Dim = 1>
class Vector;

class enum_t;
struct range_t;
struct range2D_t;
struct range_op_t;

template <typename T>
class accum_t;

// A comparison of two operands: the difference that decides it and the
// conditional-move opcode that tests the difference (operators.hpp).
template <typename Diff, vinstr_t cmv>
struct condition;

// select(condition, x, y) (operators.hpp).
template <typename Cond, typename X, typename Y>
struct select_op;

namespace _internal {

// The missing operand B of a two-operand instruction (VMOV).
struct none_t {};

template <typename T, typename U, vinstr_t instr, typename btype, int Dim, acc_choice acc>
class bin_op;

// The shape of a destination: rows per matrix, matrices and the strides
// between them in bytes (the row count and matrix count are not read for
// dimensions that the destination does not have).
struct shape_t {
    size_t rows;
    int inc2;
    size_t mats;
    int inc3;
};

template <typename dest_t, int dim>
struct assignment;

template <typename S, mask_choice is_masked, int dim>
struct resolve;

template <mask_choice is_mask, acc_choice is_acc, int dim>
struct kmr_func;

inline void set_vl(size_t len);

// Whether a masked region is alive (defined in vector_mask_obj.hpp).
inline bool in_masked_region();

}  // namespace _internal

}  // namespace KMR

// Masked region marker; outside the namespace (see vector_mask_obj.hpp).
struct vector_mask_obj;
