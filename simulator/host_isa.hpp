// The host's vector width: the long element loops are compiled twice, as
// the rest of the library is and for hosts with AVX2, whose 32-byte
// vectors take twice the elements per step. Which instance runs is decided
// once per instruction, by whether the host has AVX2 and by the row's
// length. Both compute the same thing: they are the same source, and
// integer arithmetic does not depend on the vector width.
#pragma once

#include <cstddef>

#include "kmrsim.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KMRSIM_WIDE __attribute__((target("avx2")))
#define KMRSIM_HAS_WIDE 1
#else
#define KMRSIM_WIDE
#define KMRSIM_HAS_WIDE 0
#endif

namespace kmrsim {

inline bool host_has_avx2()
{
#if KMRSIM_HAS_WIDE
    __builtin_cpu_init();  // may run before the constructors that would do it
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

// Whether the wide instances run. Set from the host at start-up; the tests
// clear it to run the instances compiled for any x86-64.
inline bool wide_vectors = host_has_avx2();

// Rows of fewer bytes than this run the generic instances: over so few
// elements the wide loops' longer set-up and tails cost more than their
// wider steps save.
inline constexpr size_t wide_min_bytes = 128;

// Whether a row of `bytes` bytes runs the wide instances.
inline bool use_wide(size_t bytes)
{
    return wide_vectors && bytes >= wide_min_bytes;
}

// The two instances of a function F whose body is always inlined into them:
// `generic`, compiled as the rest of the library, and `wide`, compiled for
// AVX2.
template <auto F>
struct isa_instances;

template <typename R, typename... A, R (*F)(A...)>
struct isa_instances<F> {
    [[gnu::noinline]] static R generic(A... a) { return F(static_cast<A>(a)...); }
    [[gnu::noinline]] KMRSIM_WIDE static R wide(A... a) { return F(static_cast<A>(a)...); }
};

}  // namespace kmrsim
