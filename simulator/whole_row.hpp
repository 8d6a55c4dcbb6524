// The whole-row path: a row whose results provably cannot depend on the
// write-back timing (see overlap.hpp) is computed in long chunks and each
// chunk's results are written at once. It gives exactly what the lane-group
// pipeline gives for such rows, much faster.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "accumulate.hpp"
#include "engine_context.hpp"
#include "engine_steps.hpp"

namespace kmrsim {

template <typename D, typename S, typename Src>
struct whole_row_path {
    using steps = engine_steps<D, S, Src>;

    // Copies a source row that must be read as it was before the instruction.
    static source_view copy_source(const memory_view &mem, const source_view &src, size_t L, byte_buffer &values,
                                   byte_buffer &flags)
    {
        const size_t bytes = L * sizeof(Src);
        source_view copy;
        copy.values = addr(values.scratch(bytes));
        std::memcpy(ptr(copy.values), ptr(src.values), bytes);
        if (src.flags != 0 || src.per_element) {
            copy.flags = addr(flags.scratch(bytes));
            if (src.flags != 0) {
                std::memcpy(ptr(copy.flags), ptr(src.flags), bytes);
            } else {
                for (size_t i = 0; i < L; ++i)
                    store<Src>(copy.flags + i * sizeof(Src),
                               static_cast<Src>(steps::template flag_at<Src>(mem, src.values + i * sizeof(Src))));
            }
        }
        return copy;
    }

    // A VMOV whose every element reads the source as it was before the row
    // (no chunk limit: the source is apart from the destination, ahead of
    // it, or read from a copy) is a move of the values and of the flags,
    // which then read as 0 or 1. Only for one element type, a destination
    // with flags and a source wholly in the scratchpad.
    static bool move_row(const instr_ctx<S> &c, const row_ctx &row)
    {
        if constexpr (std::is_same_v<D, S> && std::is_same_v<Src, S>) {
            if (c.op != VMOV || c.masked || c.acc || !row.dest_flags || row.a.flags == 0 ||
                c.plan.chunk_limit != SIZE_MAX)
                return false;
            const size_t n = size_t(row.L);  // held apart: stores of S could alias row.L
            const size_t bytes = n * sizeof(S);
            std::memmove(ptr(row.dest), ptr(row.a.values), bytes);
            move_flags(c.mem.flag_of(row.dest), row.a.flags, n);
            return true;
        }
        return false;
    }

    // Moves n flags of type S from `from` to `to` as memmove would (the
    // ranges may overlap), each stored as 0 or 1: one pass instead of a move
    // and a second pass over the moved flags. Blocks of 64 bytes are loaded
    // whole before they are stored, and are taken in the direction that
    // reads every element before anything overwrites it: downwards when the
    // flags move up, upwards otherwise.
    static void move_flags(uintptr_t to, uintptr_t from, size_t n)
    {
        using vec_t = typename vector16<sizeof(S)>::type;
        constexpr size_t V = 16 / sizeof(S), K = 4 * V;  // elements per vector, per block
        const size_t whole = n / K * K;
        auto get = [&](size_t i) {
            vec_t v;
            std::memcpy(&v, ptr(from + i * sizeof(S)), sizeof v);
            return reinterpret_cast<vec_t>(v == 0) + 1;  // -1 + 1 where 0, else 0 + 1
        };
        auto put = [&](size_t i, vec_t v) { std::memcpy(ptr(to + i * sizeof(S)), &v, sizeof v); };
        auto block = [&](size_t i) {
            const vec_t v0 = get(i), v1 = get(i + V), v2 = get(i + 2 * V), v3 = get(i + 3 * V);
            put(i, v0);
            put(i + V, v1);
            put(i + 2 * V, v2);
            put(i + 3 * V, v3);
        };
        auto one = [&](size_t i) { store<S>(to + i * sizeof(S), static_cast<S>(load<S>(from + i * sizeof(S)) != 0)); };
        if (to > from) {
            for (size_t i = n; i > whole;)
                one(--i);
            for (size_t i = whole; i > 0;) {
                i -= K;
                block(i);
            }
        } else {
            size_t i = 0;
            for (; i < whole; i += K)
                block(i);
            for (; i < n; ++i)
                one(i);
        }
    }

    static void run_row(executor<D, S> &ex, const instr_ctx<S> &c, const row_ctx &row)
    {
        const int32_t L = row.L;
        if (L <= 0)
            return;
        workspace<D, S> &w = ex.ws;
        const memory_view &mem = c.mem;
        if (move_row(c, row))
            return;
        source_view a = row.a, b = row.b;
        if (c.plan.a == source_access::copy)
            a = copy_source(mem, a, size_t(L), w.copy_a, w.copy_a_flag);
        if (c.plan.b == source_access::copy)
            b = copy_source(mem, b, size_t(L), w.copy_b, w.copy_b_flag);
        const uint8_t *mask = sim().mask_memory;
        if (c.masked && c.plan.mask == source_access::copy) {
            uint8_t *m = w.copy_mask.scratch(size_t(L));
            std::memcpy(m, mask, size_t(L));
            mask = m;
        }

        const size_t chunk = std::min(w.cap, c.plan.chunk_limit);
        const bool use_enable = c.masked || c.info->conditional;
        // Results may be computed straight into the destination and its flags
        // when nothing needs narrowing. With an enable test, the element loop
        // keeps a disabled element's old value, which in place is the
        // destination's own; that loop needs its results apart from the
        // sources it reads where they lie.
        const size_t dest_bytes = size_t(L) * sizeof(D);
        auto apart = [&](const source_view &src) {
            const uintptr_t lo = src.values, hi = src.values + size_t(L) * sizeof(Src);
            return lo == 0 || hi <= row.dest || row.dest + dest_bytes <= lo;
        };
        const bool write_in_place = !c.acc && row.dest_flags && std::is_same_v<D, S> &&
                                    row.dest % alignof(S) == 0 && mem.flag_of(row.dest) % alignof(S) == 0 &&
                                    (!use_enable || (apart(a) && apart(b)));
        S *en = w.enable[0];
        if (a.values == 0)
            steps::broadcast(w.a, std::min(chunk, size_t(L)), static_cast<S>(load<int32_t>(row.scalar)));

        for (size_t base = 0; base < size_t(L); base += chunk) {
            const size_t n = std::min(chunk, size_t(L) - base);
            typename steps::operands o;
            steps::load_operands(o, mem, *c.info, a, b, base, n, {w.a, w.a_flag, w.b, w.b_flag, w.zero}, false);

            const uintptr_t d = row.dest + base * sizeof(D);
            S *out = write_in_place ? static_cast<S *>(ptr(d)) : w.out[0];
            S *out_flag = write_in_place ? static_cast<S *>(ptr(mem.flag_of(d))) : w.out_flag[0];
            if (use_enable) {
                steps::enable_from_mask(en, n, c.masked ? mask + base : nullptr);
                c.loop_some(n, o.a, o.a_flag, o.b, o.b_flag, out, out_flag, en, c.frac);
            } else {
                c.loop_all(n, o.a, o.a_flag, o.b, o.b_flag, out, out_flag, en, c.frac);
            }

            if (c.acc) {
                accumulator += steps::sum_enabled(out, use_enable ? en : nullptr, n);
            } else if (!write_in_place) {
                const S *en_or_all = use_enable ? en : nullptr;
                if constexpr (sizeof(D) < sizeof(S)) {
                    steps::narrow(c.op, n, out, w.narrowed);
                    steps::store_enabled(mem, d, n, w.narrowed, out_flag, en_or_all, row.dest_flags);
                } else {
                    steps::store_enabled(mem, d, n, out, out_flag, en_or_all, row.dest_flags);
                }
            }
        }
    }
};

}  // namespace kmrsim
