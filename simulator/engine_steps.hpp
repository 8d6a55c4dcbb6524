// The steps that both execution paths of the engine take on a run of
// elements (a lane group, or a chunk of a whole row): filling operands,
// loading sources and their flags, the enable array, narrowing, storing
// the enabled results and summing them. The two paths differ only in when
// results are written back.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "element_ops.hpp"
#include "memory.hpp"

namespace kmrsim {

// Enable value of an element that takes part: every byte 1.
template <typename T>
constexpr T enable_value()
{
    using U = std::make_unsigned_t<T>;
    return static_cast<T>(static_cast<U>(static_cast<U>(~U(0)) / U(0xFF)));
}

// A vector source row as the engine reads it.
struct source_view {
    uintptr_t values = 0;      // element 0 of the row; 0: the operand is not a vector
    uintptr_t flags = 0;       // flag of element 0, when every element of the row has one
    bool per_element = false;  // the row is not wholly in the scratchpad: each
                               // element has a flag only if it lies in it
};

// Elements of type D (destination), S (computation) and Src (vector sources).
template <typename D, typename S, typename Src>
struct engine_steps {
    static constexpr S ones = enable_value<S>();

    // The view of a vector source row of L elements at p: flags come from the
    // flag memory where the element lies in the scratchpad, else they are 0.
    static source_view view_source(const memory_view &mem, uintptr_t p, int64_t L)
    {
        const size_t bytes = size_t(std::max<int64_t>(L, 0)) * sizeof(Src);
        if (mem.holds(p, bytes))
            return {p, mem.flag_of(p), false};
        return {p, 0, true};
    }

    // Scalar operand: the same value in n entries.
    static void broadcast(S *to, size_t n, S value) { std::fill_n(to, n, value); }

    // Enumeration operand: entry i is the element index first + i, converted
    // to S (so a byte computation counts 0 .. 255, 0, 1, ...).
    static void enumerate(S *to, size_t n, size_t first)
    {
        for (size_t i = 0; i < n; ++i)
            to[i] = static_cast<S>(first + i);
    }

    // Enable entries: set for every element, or where the mask byte is not 0.
    static void enable_from_mask(S *en, size_t n, const uint8_t *mask)
    {
        if (mask == nullptr) {
            std::fill_n(en, n, ones);
            return;
        }
        for (size_t i = 0; i < n; ++i)
            en[i] = mask[i] != 0 ? ones : S(0);
    }

    // Values of n source elements at p as S. With may_alias, the scratchpad
    // itself when the element types agree and p is aligned; else a
    // converted copy in `to`.
    static const S *load_values(uintptr_t p, size_t n, S *to, bool may_alias)
    {
        if constexpr (std::is_same_v<Src, S>) {
            if (may_alias && p % alignof(S) == 0)
                return static_cast<const S *>(ptr(p));
        }
        for (size_t i = 0; i < n; ++i)
            to[i] = static_cast<S>(load<Src>(p + i * sizeof(Src)));
        return to;
    }

    // Flags, as 0 or 1, of source elements first .. first + n - 1.
    static const S *load_flags(const memory_view &mem, const source_view &src, size_t first, size_t n, S *to)
    {
        if (src.flags != 0) {
            const uintptr_t f = src.flags + first * sizeof(Src);
            for (size_t i = 0; i < n; ++i)
                to[i] = S(load<Src>(f + i * sizeof(Src)) != 0);
        } else if (src.per_element) {
            for (size_t i = 0; i < n; ++i) {
                const uintptr_t e = src.values + (first + i) * sizeof(Src);
                to[i] = mem.holds(e, sizeof(Src)) ? S(load<Src>(mem.flag_of(e)) != 0) : S(0);
            }
        } else {
            std::fill_n(to, n, S(0));
        }
        return to;
    }

    // Previous values and flags of n destination elements at d, element by
    // element: an element in the scratchpad has both, one in the mask
    // memory its value and flag 0, and one anywhere else reads as 0, flag 0.
    static void load_previous(const memory_view &mem, uintptr_t d, size_t n, S *values, S *flags)
    {
        if (mem.holds(d, n * sizeof(D))) {
            const uintptr_t f = mem.flag_of(d);
            for (size_t i = 0; i < n; ++i) {
                values[i] = static_cast<S>(load<D>(d + i * sizeof(D)));
                flags[i] = S(load<D>(f + i * sizeof(D)) != 0);
            }
            return;
        }
        for (size_t i = 0; i < n; ++i) {
            const uintptr_t e = d + i * sizeof(D);
            const bool in_scratchpad = mem.holds(e, sizeof(D));
            values[i] = in_scratchpad || mem.mask_holds(e, sizeof(D)) ? static_cast<S>(load<D>(e)) : S(0);
            flags[i] = in_scratchpad ? S(load<D>(mem.flag_of(e)) != 0) : S(0);
        }
    }

    // Narrows n results to the destination type, in place (the values stay
    // S but hold what D holds).
    static void narrow(vinstr_t op, size_t n, S *values)
    {
        if constexpr (sizeof(D) < sizeof(S)) {
            if (narrows_by_saturation(op)) {
                for (size_t i = 0; i < n; ++i)
                    values[i] = static_cast<S>(detail::clamp_to<D>(values[i]));
            } else {
                for (size_t i = 0; i < n; ++i)
                    values[i] = static_cast<S>(static_cast<D>(values[i]));
            }
        } else {
            (void)op, (void)n, (void)values;
        }
    }

    // Stores n narrowed results (and their flags, unless the destination is
    // the mask memory) at d: every element when en is null, else where en is
    // not 0.
    static void store_enabled(const memory_view &mem, uintptr_t d, size_t n, const S *values, const S *flags,
                              const S *en, bool with_flags)
    {
        const uintptr_t f = with_flags ? mem.flag_of(d) : 0;
        if (en == nullptr) {
            if constexpr (std::is_same_v<D, S>) {
                std::memcpy(ptr(d), values, n * sizeof(D));
            } else {
                for (size_t i = 0; i < n; ++i)
                    store<D>(d + i * sizeof(D), static_cast<D>(values[i]));
            }
            if (with_flags)
                for (size_t i = 0; i < n; ++i)
                    store<D>(f + i * sizeof(D), static_cast<D>(flags[i]));
            return;
        }
        for (size_t i = 0; i < n; ++i) {
            if (en[i] == 0)
                continue;
            store<D>(d + i * sizeof(D), static_cast<D>(values[i]));
            if (with_flags)
                store<D>(f + i * sizeof(D), static_cast<D>(flags[i]));
        }
    }

    // Sum of the n results (every one when en is null, else where en is not
    // 0), each sign-extended for signed S and zero-extended for unsigned S.
    static int64_t sum_enabled(const S *values, const S *en, size_t n)
    {
        int64_t sum = 0;
        if (en == nullptr) {
            for (size_t i = 0; i < n; ++i)
                sum += static_cast<int64_t>(values[i]);
        } else {
            for (size_t i = 0; i < n; ++i)
                sum += en[i] != 0 ? static_cast<int64_t>(values[i]) : 0;
        }
        return sum;
    }
};

}  // namespace kmrsim
