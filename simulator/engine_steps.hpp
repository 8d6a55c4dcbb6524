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

// 16 bytes of unsigned elements of a size, as one vector (GCC's vector
// extensions, which every target supports).
template <size_t Size>
struct vector16;
template <>
struct vector16<1> {
    typedef uint8_t type __attribute__((vector_size(16)));
};
template <>
struct vector16<2> {
    typedef uint16_t type __attribute__((vector_size(16)));
};
template <>
struct vector16<4> {
    typedef uint32_t type __attribute__((vector_size(16)));
};

// Elements of type D (destination), S (computation) and Src (vector sources).
template <typename D, typename S, typename Src>
struct engine_steps {
    static constexpr S ones = enable_value<S>();

    // The view of a vector source row at p: flags come from the flag memory
    // where an element lies in the scratchpad, else they are 0. inside: the
    // whole row lies in the scratchpad.
    KMRSIM_ALWAYS_INLINE static source_view view_source(uintptr_t p, bool inside, const memory_view &mem)
    {
        return inside ? source_view{p, mem.flag_of(p), false} : source_view{p, 0, true};
    }

    // The flag of the element of type T at e: 1 when the element lies in the
    // scratchpad and its flag is not 0, else 0.
    template <typename T>
    KMRSIM_ALWAYS_INLINE static S flag_at(const memory_view &mem, uintptr_t e)
    {
        return mem.holds(e, sizeof(T)) ? S(load<T>(mem.flag_of(e)) != 0) : S(0);
    }

    // Scalar operand: the same value in n entries.
    KMRSIM_ALWAYS_INLINE static void broadcast(S *to, size_t n, S value) { std::fill_n(to, n, value); }

    // Enumeration operand: entry i is the element index first + i, converted
    // to S (so a byte computation counts 0 .. 255, 0, 1, ...).
    KMRSIM_ALWAYS_INLINE static void enumerate(S *to, size_t n, size_t first)
    {
        for (size_t i = 0; i < n; ++i)
            to[i] = static_cast<S>(first + i);
    }

    // Enable entries: set for every element, or where the mask byte is not 0.
    KMRSIM_ALWAYS_INLINE static void enable_from_mask(S *en, size_t n, const uint8_t *mask)
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
    KMRSIM_ALWAYS_INLINE static const S *load_values(uintptr_t p, size_t n, S *to, bool may_alias)
    {
        if constexpr (std::is_same_v<Src, S>) {
            if (may_alias && p % alignof(S) == 0)
                return static_cast<const S *>(ptr(p));
        }
        for (size_t i = 0; i < n; ++i)
            to[i] = static_cast<S>(load<Src>(p + i * sizeof(Src)));
        return to;
    }

    // The arrays a run of elements' operands are loaded into, and an array of
    // zeros for the flags of scalars and the enumeration.
    struct operand_arrays {
        S *a, *a_flag, *b, *b_flag;
        const S *zero;
    };
    // The operands of a run of elements as the element loop reads them.
    struct operands {
        const S *a, *a_flag, *b, *b_flag;
    };

    // The operands of elements first .. first + n - 1: the vector sources
    // (values, and flags where the opcode reads them) and the enumeration; a
    // scalar A is already broadcast into to.a. Unread flags are the zeros.
    // With own_arrays (a custom function, which may change them) everything
    // lands in the arrays, flags of scalars and the enumeration as zeros;
    // without, values may be read where they lie. Without fill_enumeration
    // the enumeration is left to the element loop (op_loop_enum).
    KMRSIM_ALWAYS_INLINE static void load_operands(operands &o, const memory_view &mem, const op_info &info,
                                                   const source_view &a, const source_view &b, size_t first, size_t n,
                                                   operand_arrays to, bool own_arrays, bool fill_enumeration = true)
    {
        o = {to.a, to.zero, to.b, to.zero};
        if (a.values != 0) {
            o.a = load_values(a.values + first * sizeof(Src), n, to.a, !own_arrays);
            if (info.reads_a_flag)
                o.a_flag = load_flags(mem, a, first, n, to.a_flag);
        }
        if (b.values != 0) {
            if (info.reads_b)
                o.b = load_values(b.values + first * sizeof(Src), n, to.b, !own_arrays);
            if (info.reads_b_flag)
                o.b_flag = load_flags(mem, b, first, n, to.b_flag);
        } else if (info.reads_b && fill_enumeration) {
            enumerate(to.b, n, first);
        }
        if (own_arrays) {
            if (o.a_flag == to.zero)
                o.a_flag = zeros(to.a_flag, n);
            if (o.b_flag == to.zero)
                o.b_flag = zeros(to.b_flag, n);
        }
    }

    KMRSIM_ALWAYS_INLINE static S *zeros(S *to, size_t n)
    {
        std::fill_n(to, n, S(0));
        return to;
    }

    // Flags, as 0 or 1, of source elements first .. first + n - 1.
    KMRSIM_ALWAYS_INLINE static const S *load_flags(const memory_view &mem, const source_view &src, size_t first,
                                                    size_t n, S *__restrict to)
    {
        if (src.flags != 0) {
            const uintptr_t f = src.flags + first * sizeof(Src);
            for (size_t i = 0; i < n; ++i)
                to[i] = S(load<Src>(f + i * sizeof(Src)) != 0);
        } else if (src.per_element) {
            for (size_t i = 0; i < n; ++i)
                to[i] = flag_at<Src>(mem, src.values + (first + i) * sizeof(Src));
        } else {
            std::fill_n(to, n, S(0));
        }
        return to;
    }

    // Previous values and flags of n destination elements at d, element by
    // element: an element in the scratchpad has both, one in the mask
    // memory its value and flag 0, and one anywhere else reads as 0, flag 0.
    KMRSIM_ALWAYS_INLINE static void load_previous(const memory_view &mem, uintptr_t d, size_t n, S *__restrict values,
                                                   S *__restrict flags)
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
            const bool readable = mem.holds(e, sizeof(D)) || mem.mask_holds(e, sizeof(D));
            values[i] = readable ? static_cast<S>(load<D>(e)) : S(0);
            flags[i] = flag_at<D>(mem, e);
        }
    }

    // Narrows n results to the destination type: into an array of D, or in
    // place (out == in, an array of S then holding what D holds). Only for a
    // destination narrower than S.
    template <typename T>
    KMRSIM_ALWAYS_INLINE static void narrow(vinstr_t op, size_t n, const S *in, T *out)
    {
        static_assert(sizeof(D) < sizeof(S) && (std::is_same_v<T, D> || std::is_same_v<T, S>));
        if (narrows_by_saturation(op)) {
            for (size_t i = 0; i < n; ++i)
                out[i] = static_cast<T>(detail::clamp_to<D>(in[i]));
        } else {
            for (size_t i = 0; i < n; ++i)
                out[i] = static_cast<T>(static_cast<D>(in[i]));
        }
    }

    // Stores n narrowed results (arrays of D, or of S holding D's values) and
    // their flags (unless the destination is the mask memory) at d: every
    // element when en is null, else where en is not 0.
    template <typename V>
    KMRSIM_ALWAYS_INLINE static void store_enabled(const memory_view &mem, uintptr_t d, size_t n, const V *values,
                                                   const S *flags, const S *en, bool with_flags)
    {
        const uintptr_t f = with_flags ? mem.flag_of(d) : 0;
        if (en == nullptr) {
            if constexpr (std::is_same_v<V, D>) {
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
        if (mem.holds(d, n * sizeof(D)) || mem.mask_holds(d, n * sizeof(D))) {
            // Every element lies in memory (a lane group at a row's end may
            // reach beyond it): a disabled element stores its own value back,
            // so the loops have no branch and vectorise.
            store_inside(mem, d, n, values, flags, en, with_flags);
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

    // store_enabled with an enable array, for n elements at d that lie
    // wholly in the memories: every element is read and written back, with
    // its old value and flag where en is 0. Nothing runs between the read and
    // the write, so memory ends up exactly as with stores of the enabled
    // elements alone, without a branch per element. Runs of 16 bytes of one
    // element size (a full lane group, say) take one vector select for the
    // value and the flag; other runs a loop the compiler vectorises.
    template <typename V>
    KMRSIM_ALWAYS_INLINE static void store_inside(const memory_view &mem, uintptr_t d, size_t n,
                                                  const V *__restrict values, const S *__restrict flags,
                                                  const S *__restrict en, bool with_flags)
    {
        const uintptr_t f = mem.flag_of(d);
        if constexpr (sizeof(V) == sizeof(D) && sizeof(S) == sizeof(D)) {
            using vec = typename vector16<sizeof(D)>::type;
            constexpr size_t run = 16 / sizeof(D);
            if (n % run == 0 && n > 0) {
                size_t i = 0;
                do {
                    vec e, x, v;
                    std::memcpy(&e, en + i, sizeof e);
                    const vec keep = reinterpret_cast<vec>(e == 0);
                    std::memcpy(&x, values + i, sizeof x);
                    std::memcpy(&v, ptr(d + i * sizeof(D)), sizeof v);
                    v = (v & keep) | (x & ~keep);
                    std::memcpy(ptr(d + i * sizeof(D)), &v, sizeof v);
                    if (with_flags) {
                        std::memcpy(&x, flags + i, sizeof x);
                        std::memcpy(&v, ptr(f + i * sizeof(D)), sizeof v);
                        v = (v & keep) | (x & ~keep);
                        std::memcpy(ptr(f + i * sizeof(D)), &v, sizeof v);
                    }
                    i += run;
                } while (i < n);
                return;
            }
        }
        select_enabled(d, n, values, en);
        if (with_flags)
            select_enabled(f, n, flags, en);
    }

    // Element i of the n elements of type D at d becomes values[i] where
    // en[i] is not 0 and keeps its value elsewhere.
    template <typename V>
    KMRSIM_ALWAYS_INLINE static void select_enabled(uintptr_t d, size_t n, const V *__restrict values,
                                                    const S *__restrict en)
    {
        for (size_t i = 0; i < n; ++i) {
            const D old = load<D>(d + i * sizeof(D));
            const D v = static_cast<D>(values[i]);  // read unconditionally, so the select if-converts
            store<D>(d + i * sizeof(D), en[i] != 0 ? v : old);
        }
    }

    // narrow into an array of D that does not overlap the input, so that the
    // loops vectorise; for D as wide as S a copy. saturate: the opcode's
    // narrowing clamps (narrows_by_saturation).
    KMRSIM_ALWAYS_INLINE static void narrow_into(bool saturate, size_t n, const S *__restrict in, D *__restrict out)
    {
        if constexpr (sizeof(D) < sizeof(S)) {
            if (saturate) {
                for (size_t i = 0; i < n; ++i)
                    out[i] = detail::clamp_to<D>(in[i]);
            } else {
                for (size_t i = 0; i < n; ++i)
                    out[i] = static_cast<D>(in[i]);
            }
        } else {
            std::memcpy(out, in, n * sizeof(D));
        }
    }

    // What narrow followed by store_enabled does, for results in an array of
    // S (values not yet narrowed) in a checked row: narrows straight into a
    // destination aligned for D when every element is stored, else selects
    // with the enable entries, converting to D as it stores (clamped values
    // go through `narrowed` first). The destination
    // (scratchpad or mask memory) never overlaps the engine's arrays.
    KMRSIM_ALWAYS_INLINE static void store_results(vinstr_t op, const memory_view &mem, uintptr_t d, size_t n,
                                                   const S *values, const S *flags, const S *en, bool with_flags,
                                                   D *narrowed)
    {
        const uintptr_t f = with_flags ? mem.flag_of(d) : 0;
        const bool saturate = narrows_by_saturation(op);
        if (en == nullptr && d % alignof(D) == 0 && f % alignof(D) == 0) {
            narrow_into(saturate, n, values, static_cast<D *>(ptr(d)));
            if (with_flags)
                narrow_into(false, n, flags, static_cast<D *>(ptr(f)));  // flags are 0 or 1: kept as they are
            return;
        }
        if constexpr (sizeof(D) < sizeof(S)) {
            // Narrowing that keeps the low bits is what the stores' own
            // conversion to D does, so only clamping takes a pass of its own.
            if (saturate) {
                narrow_into(true, n, values, narrowed);
                store_enabled(mem, d, n, narrowed, flags, en, with_flags);
            } else {
                store_enabled(mem, d, n, values, flags, en, with_flags);
            }
        } else {
            store_enabled(mem, d, n, values, flags, en, with_flags);
        }
    }

    // Stores one value and flag (unless the destination is the mask memory)
    // in each of n elements at d, or, with a mask, in those whose mask byte
    // is not 0 (the others keep theirs).
    KMRSIM_ALWAYS_INLINE static void store_uniform(const memory_view &mem, uintptr_t d, size_t n, D value, D flag,
                                                   bool with_flags, const uint8_t *mask = nullptr)
    {
        const uintptr_t f = with_flags ? mem.flag_of(d) : 0;
        if (d % alignof(D) == 0 && f % alignof(D) == 0) {
            fill_enabled(static_cast<D *>(ptr(d)), n, value, mask);
            if (with_flags)
                fill_enabled(static_cast<D *>(ptr(f)), n, flag, mask);
            return;
        }
        for (size_t i = 0; i < n; ++i) {
            if (mask != nullptr && mask[i] == 0)
                continue;
            store<D>(d + i * sizeof(D), value);
            if (with_flags)
                store<D>(f + i * sizeof(D), flag);
        }
    }

    // to[i] = value for i < n, or only where mask[i] is not 0.
    KMRSIM_ALWAYS_INLINE static void fill_enabled(D *__restrict to, size_t n, D value, const uint8_t *__restrict mask)
    {
        if (mask == nullptr) {
            std::fill_n(to, n, value);
            return;
        }
        for (size_t i = 0; i < n; ++i) {
            const D old = to[i];  // read unconditionally, so the select if-converts
            to[i] = mask[i] != 0 ? value : old;
        }
    }

    // The number of the n mask bytes that are not 0, counted in bytes over
    // blocks of 255 (no block count can wrap), which vectorises well.
    KMRSIM_ALWAYS_INLINE static size_t count_enabled(const uint8_t *mask, size_t n)
    {
        size_t count = 0;
        for (size_t first = 0; first < n; first += 255) {
            const size_t m = std::min<size_t>(255, n - first);
            uint8_t part = 0;
            for (size_t i = 0; i < m; ++i)
                part = static_cast<uint8_t>(part + (mask[first + i] != 0));
            count += part;
        }
        return count;
    }

    // Sum of the n results (every one when en is null, else where en is not
    // 0), each sign-extended for signed S and zero-extended for unsigned S.
    // Elements of 8 or 16 bits are summed in 32 bits over blocks short
    // enough that no block sum can overflow (32768 elements of at most 65535
    // in magnitude), which vectorises far better than 64-bit sums and gives
    // the same total.
    KMRSIM_ALWAYS_INLINE static int64_t sum_enabled(const S *values, const S *en, size_t n)
    {
        using part_t = std::conditional_t<sizeof(S) <= 2, int32_t, int64_t>;
        constexpr size_t block = sizeof(S) <= 2 ? 32768 : SIZE_MAX;
        int64_t sum = 0;
        for (size_t first = 0; first < n; first += std::min(block, n - first)) {
            const size_t m = std::min(block, n - first);
            const S *const v = values + first;
            part_t part = 0;
            if (en == nullptr) {
                for (size_t i = 0; i < m; ++i)
                    part += static_cast<part_t>(v[i]);
            } else {
                const S *const e = en + first;
                // A mask rather than a choice, so that the loop vectorises.
                for (size_t i = 0; i < m; ++i)
                    part += static_cast<part_t>(v[i]) & -static_cast<part_t>(e[i] != 0);
            }
            sum += part;
        }
        return sum;
    }
};

}  // namespace kmrsim
