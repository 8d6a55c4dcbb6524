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
#include "host_isa.hpp"

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
            move(c.mem, row.dest, row.a, size_t(row.L), c.wide);
            return true;
        }
        return false;
    }

    // The move of a VMOV row of n elements whose every element reads the
    // source as it was before the row: its values, and its flags as 0 or 1.
    // Flags apart from their new place take a plain loop, in the wide
    // instance when `wide`.
    static void move(const memory_view &mem, uintptr_t dest, const source_view &a, size_t n, bool wide)
    {
        std::memmove(ptr(dest), ptr(a.values), n * sizeof(S));
        const uintptr_t to = mem.flag_of(dest), bytes = n * sizeof(S);
        if (to + bytes <= a.flags || a.flags + bytes <= to)
            (wide ? isa_instances<&copy_flags>::wide : isa_instances<&copy_flags>::generic)(to, a.flags, n);
        else if (wide)
            isa_instances<&move_flags_wide>::wide(to, a.flags, n);
        else
            move_flags<16>(to, a.flags, n);
    }

    // Copies n flags of type S from `from` to `to` (apart), each as 0 or 1.
    KMRSIM_ALWAYS_INLINE static void copy_flags(uintptr_t to, uintptr_t from, size_t n)
    {
        S *__restrict out = static_cast<S *>(ptr(to));
        const S *__restrict in = static_cast<const S *>(ptr(from));
        if (to % alignof(S) == 0 && from % alignof(S) == 0) {
            for (size_t i = 0; i < n; ++i)
                out[i] = static_cast<S>(in[i] != 0);
        } else {
            for (size_t i = 0; i < n; ++i)
                store<S>(to + i * sizeof(S), static_cast<S>(load<S>(from + i * sizeof(S)) != 0));
        }
    }

    // Moves n flags of type S from `from` to `to` as memmove would (the
    // ranges may overlap), each stored as 0 or 1: one pass instead of a move
    // and a second pass over the moved flags. Blocks of four vectors of
    // VectorBytes bytes, then single vectors, then single elements, each
    // loaded whole before it is stored, are taken in the direction that
    // reads every element before anything overwrites it: downwards when the
    // flags move up, upwards otherwise. The wide instance takes 32-byte
    // vectors.
    template <size_t VectorBytes>
    KMRSIM_ALWAYS_INLINE static void move_flags(uintptr_t to, uintptr_t from, size_t n)
    {
        using U = std::make_unsigned_t<S>;
        typedef U vec_t __attribute__((vector_size(VectorBytes)));
        constexpr size_t V = VectorBytes / sizeof(S), K = 4 * V;  // elements per vector, per block
        const size_t blocks = n / K * K, vectors = n / V * V;
        // Unaligned vectors read and written in place (no memcpy through a
        // variable, which the generic instance would split in 16-byte parts).
        typedef U vec_u __attribute__((vector_size(VectorBytes), aligned(1), may_alias));
        auto at_from = [&](size_t i) KMRSIM_ALWAYS_INLINE_LAMBDA {
            return reinterpret_cast<const vec_u *>(ptr(from + i * sizeof(S)));
        };
        auto at_to = [&](size_t i) KMRSIM_ALWAYS_INLINE_LAMBDA {
            return reinterpret_cast<vec_u *>(ptr(to + i * sizeof(S)));
        };
        auto one_vector = [&](size_t i) KMRSIM_ALWAYS_INLINE_LAMBDA {
            *at_to(i) = reinterpret_cast<vec_t>(*at_from(i) == 0) + 1;  // -1 + 1 where 0, else 0 + 1
        };
        auto block = [&](size_t i) KMRSIM_ALWAYS_INLINE_LAMBDA {
            const vec_t v0 = reinterpret_cast<vec_t>(*at_from(i) == 0) + 1,
                        v1 = reinterpret_cast<vec_t>(*at_from(i + V) == 0) + 1,
                        v2 = reinterpret_cast<vec_t>(*at_from(i + 2 * V) == 0) + 1,
                        v3 = reinterpret_cast<vec_t>(*at_from(i + 3 * V) == 0) + 1;
            *at_to(i) = v0;
            *at_to(i + V) = v1;
            *at_to(i + 2 * V) = v2;
            *at_to(i + 3 * V) = v3;
        };
        auto one = [&](size_t i) { store<S>(to + i * sizeof(S), static_cast<S>(load<S>(from + i * sizeof(S)) != 0)); };
        if (to > from) {
            for (size_t i = n; i > vectors;)
                one(--i);
            for (size_t i = vectors; i > blocks;) {
                i -= V;
                one_vector(i);
            }
            for (size_t i = blocks; i > 0;) {
                i -= K;
                block(i);
            }
        } else {
            size_t i = 0;
            for (; i < blocks; i += K)
                block(i);
            for (; i < vectors; i += V)
                one_vector(i);
            for (; i < n; ++i)
                one(i);
        }
    }

    KMRSIM_ALWAYS_INLINE static void move_flags_wide(uintptr_t to, uintptr_t from, size_t n)
    {
        move_flags<32>(to, from, n);
    }

    // A row whose every element has the same operands (a scalar A, and an
    // opcode that reads neither B's value nor its flag: VMOV) gives every
    // element the same result and flag. They are computed once and stored in
    // every enabled element, or, when the row accumulates, added once per
    // enabled element. The row reads no memory but a mask apart from the
    // destination, so the write-back timing cannot matter.
    static bool is_uniform(const instr_ctx<S> &c, const row_ctx &row, const uint8_t *mask)
    {
        // Of the built-in opcodes only VMOV reads no B at all; testing its
        // number first keeps the check to one comparison for the others.
        if (c.op != VMOV || row.a.values != 0 || c.info->reads_b || c.info->reads_b_flag || c.info->conditional)
            return false;
        // Stores under a mask that the destination overlaps would change the
        // mask as it is read; such rows keep their chunks.
        const size_t L = size_t(row.L);
        return !c.masked || c.acc || addr(mask) >= row.dest + L * sizeof(D) || row.dest >= addr(mask) + L;
    }

    KMRSIM_ALWAYS_INLINE static void uniform_row(const instr_ctx<S> &c, const row_ctx &row, const uint8_t *mask)
    {
        const size_t L = size_t(row.L);
        const S a = static_cast<S>(load<int32_t>(row.scalar));
        const S zero = 0;
        S value = 0, flag = 0, unused = steps::ones;
        c.loop_all(1, &a, &zero, &zero, &zero, &value, &flag, &unused, c.frac);
        if (c.acc) {
            // Each result is summed as S: sign-extended, or zero-extended.
            const size_t enabled = c.masked ? steps::count_enabled(mask, L) : L;
            accumulator += static_cast<int64_t>(enabled) * static_cast<int64_t>(value);
            return;
        }
        D narrowed_value, narrowed_flag;
        steps::narrow_into(narrows_by_saturation(c.op), 1, &value, &narrowed_value);
        steps::narrow_into(false, 1, &flag, &narrowed_flag);
        steps::store_uniform(c.mem, row.dest, L, narrowed_value, narrowed_flag, row.dest_flags,
                             c.masked ? mask : nullptr);
    }

    KMRSIM_ALWAYS_INLINE static void run_row(executor<D, S> &ex, const instr_ctx<S> &c, const row_ctx &row)
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
        // keeps a disabled element's old value (or one whose condition
        // failed), which in place is the destination's own; that loop needs
        // its results apart from the sources it reads where they lie.
        const size_t dest_bytes = size_t(L) * sizeof(D);
        auto apart = [&](const source_view &src) {
            const uintptr_t lo = src.values, hi = src.values + size_t(L) * sizeof(Src);
            return lo == 0 || hi <= row.dest || row.dest + dest_bytes <= lo;
        };
        const bool write_in_place = !c.acc && row.dest_flags && std::is_same_v<D, S> && row.dest % alignof(S) == 0 &&
                                    mem.flag_of(row.dest) % alignof(S) == 0 && (!use_enable || (apart(a) && apart(b)));
        if (a.values == 0 && is_uniform(c, row, mask)) {
            if (c.wide)
                isa_instances<&uniform_row>::wide(c, row, mask);
            else
                uniform_row(c, row, mask);
            return;
        }
        if constexpr (sizeof(D) < sizeof(S) && std::is_same_v<Src, S>) {
            if (!c.acc && !use_enable && row.dest_flags && narrow_in_loop(w, c, row, a, b, size_t(L), chunk))
                return;
        }
        // Rows that are not computed in place, that have an enable test, or
        // whose B is the enumeration, take their own loop; the loop below is
        // left with rows computed in place over every element.
        if (!write_in_place || use_enable || b.values == 0) {
            (c.wide ? isa_instances<&chunks>::wide : isa_instances<&chunks>::generic)(w, c, row, a, b, mask, size_t(L),
                                                                                      chunk, write_in_place);
            return;
        }

        if (c.wide)
            isa_instances<&in_place>::wide(w, c, row, a, b, size_t(L), chunk);
        else
            in_place(w, c, row, a, b, size_t(L), chunk);
    }

    // A row computed in place: every element, straight into the destination
    // and its flags.
    KMRSIM_ALWAYS_INLINE static void in_place(workspace<D, S> &w, const instr_ctx<S> &c, const row_ctx &row,
                                              const source_view &a, const source_view &b, size_t L, size_t chunk)
    {
        const memory_view &mem = c.mem;
        if constexpr (sizeof(Src) < sizeof(S)) {
            if (widen_in_loop(w, c, row, a, b, L, chunk))
                return;
        }
        if (a.values == 0)
            steps::broadcast(w.a, std::min(chunk, L), static_cast<S>(load<int32_t>(row.scalar)));
        for (size_t base = 0; base < L; base += chunk) {
            const size_t n = std::min(chunk, L - base);
            typename steps::operands o;
            steps::load_operands(o, mem, *c.info, a, b, base, n, {w.a, w.a_flag, w.b, w.b_flag, w.zero}, false);
            const uintptr_t d = row.dest + base * sizeof(D);
            c.loop_all(n, o.a, o.a_flag, o.b, o.b_flag, static_cast<S *>(ptr(d)), static_cast<S *>(ptr(mem.flag_of(d))),
                       w.enable[0], c.frac);
        }
    }

    // A row computed in place whose sources are narrower than the
    // computation: when both are vectors, aligned, and apart from the
    // destination's values and flags, the element loop converts them as it
    // reads them (op_loop_widen). Returns false, doing nothing, when the row
    // does not qualify.
    KMRSIM_ALWAYS_INLINE static bool widen_in_loop(workspace<D, S> &w, const instr_ctx<S> &c, const row_ctx &row,
                                                   const source_view &a, const source_view &b, size_t L, size_t chunk)
    {
        const op_loop_widen_fn<S, Src> loop = select_op_loop_widen<S, Src>(c.op, c.wide);
        if (loop == nullptr || !sources_apart(c, row, a, b, L))
            return false;
        fused_row<S>(w, c, row, a, b, L, chunk, loop);
        return true;
    }

    // A row of results narrower than the computation, of a non-conditional
    // opcode without mask or accumulation, into a destination with flags:
    // when both sources are vectors, aligned, and apart from the
    // destination's values and flags, the element loop stores the narrowed
    // results and flags itself (op_loop_narrow) instead of computing them
    // into arrays to be narrowed into the destination. Returns false, doing
    // nothing, when the row does not qualify.
    KMRSIM_ALWAYS_INLINE static bool narrow_in_loop(workspace<D, S> &w, const instr_ctx<S> &c, const row_ctx &row,
                                                    const source_view &a, const source_view &b, size_t L, size_t chunk)
    {
        const op_loop_narrow_fn<S, D> loop = select_op_loop_narrow<S, D>(c.op, c.wide);
        if (loop == nullptr || row.dest % alignof(D) != 0 || c.mem.flag_of(row.dest) % alignof(D) != 0 ||
            !sources_apart(c, row, a, b, L))
            return false;
        fused_row<D>(w, c, row, a, b, L, chunk, loop);
        return true;
    }

    // Whether both sources of a row are vectors aligned for Src and lie
    // apart from the destination's values and flags. The element loop may
    // then read each source element just before it stores that element's
    // result, which gives what reading a chunk of sources first gives, since
    // no result lands on a source.
    static bool sources_apart(const instr_ctx<S> &c, const row_ctx &row, const source_view &a, const source_view &b,
                              size_t L)
    {
        const uintptr_t flags = c.mem.flag_of(row.dest), dest_bytes = L * sizeof(D), src_bytes = L * sizeof(Src);
        auto fits = [&](uintptr_t p) {
            return p != 0 && p % alignof(Src) == 0 && (p + src_bytes <= row.dest || row.dest + dest_bytes <= p) &&
                   (p + src_bytes <= flags || flags + dest_bytes <= p);
        };
        return fits(a.values) && fits(b.values);
    }

    // The element loop of widen_in_loop or narrow_in_loop over a row: one
    // call with the sources where they lie, or, when the opcode reads
    // source flags, one per chunk with the flags loaded into arrays.
    template <typename Out, typename Loop>
    KMRSIM_ALWAYS_INLINE static void fused_row(workspace<D, S> &w, const instr_ctx<S> &c, const row_ctx &row,
                                               const source_view &a, const source_view &b, size_t L, size_t chunk,
                                               Loop loop)
    {
        const uintptr_t flags = c.mem.flag_of(row.dest);
        const bool reads_flags = c.info->reads_a_flag || c.info->reads_b_flag;
        const size_t step = reads_flags ? chunk : L;  // the flag arrays hold a chunk
        for (size_t base = 0; base < L; base += step) {
            const size_t n = std::min(step, L - base);
            const S *af = c.info->reads_a_flag ? steps::load_flags(c.mem, a, base, n, w.a_flag) : w.zero;
            const S *bf = c.info->reads_b_flag ? steps::load_flags(c.mem, b, base, n, w.b_flag) : w.zero;
            loop(n, static_cast<const Src *>(ptr(a.values + base * sizeof(Src))), af,
                 static_cast<const Src *>(ptr(b.values + base * sizeof(Src))), bf,
                 static_cast<Out *>(ptr(row.dest + base * sizeof(Out))),
                 static_cast<Out *>(ptr(flags + base * sizeof(Out))), c.frac);
        }
    }

    // The chunks of a row (run_row). Accumulating rows without a mask, of an
    // opcode that always writes, sum their results in the element loop
    // (op_sum) without storing them. When B is the enumeration and there is
    // no mask, the element loop counts the element indices itself
    // (op_loop_enum) instead of reading them from an array filled first. A
    // conditional opcode without a mask runs the loop over every element,
    // which records in the enable entries where it wrote (1) and where its
    // condition failed (0): what a loop under an all-ones enable array
    // leaves, and all that the sums and stores look at. Results that are not
    // computed in place are narrowed and stored (blended in under the
    // enable entries) by store_results.
    KMRSIM_ALWAYS_INLINE static void chunks(workspace<D, S> &w, const instr_ctx<S> &c, const row_ctx &row,
                                            const source_view &a, const source_view &b, const uint8_t *mask, size_t L,
                                            size_t chunk, bool write_in_place)
    {
        const memory_view &mem = c.mem;
        const bool use_enable = c.masked || c.info->conditional;
        const op_sum_fn<S> sum = c.acc && !use_enable ? select_op_sum<S>(c.op, c.wide) : nullptr;
        const op_loop_enum_fn<S> loop_enum = b.values == 0 && c.info->reads_b && !c.acc && !c.masked
                                                 ? select_op_loop_enum<S>(c.op, a.values == 0, c.wide)
                                                 : nullptr;
        // A scalar A: broadcast, or only in entry 0 for op_loop_enum, which
        // reads it from there.
        if (a.values == 0)
            steps::broadcast(w.a, loop_enum != nullptr ? 1 : std::min(chunk, L),
                             static_cast<S>(load<int32_t>(row.scalar)));
        S *en = w.enable[0];
        for (size_t base = 0; base < L; base += chunk) {
            const size_t n = std::min(chunk, L - base);
            typename steps::operands o;
            steps::load_operands(o, mem, *c.info, a, b, base, n, {w.a, w.a_flag, w.b, w.b_flag, w.zero}, false,
                                 loop_enum == nullptr);
            if (sum != nullptr) {
                accumulator += sum(n, o.a, o.a_flag, o.b, o.b_flag, c.frac);
                continue;
            }
            const uintptr_t d = row.dest + base * sizeof(D);
            S *out = write_in_place ? static_cast<S *>(ptr(d)) : w.out[0];
            S *out_flag = write_in_place ? static_cast<S *>(ptr(mem.flag_of(d))) : w.out_flag[0];
            if (c.masked) {
                steps::enable_from_mask(en, n, mask + base);
                c.loop_some(n, o.a, o.a_flag, o.b, o.b_flag, out, out_flag, en, c.frac);
            } else if (loop_enum != nullptr) {
                // The enumeration counts element indices, converted to S.
                loop_enum(n, o.a, o.a_flag, static_cast<S>(base), out, out_flag, en, c.frac);
            } else {
                c.loop_all(n, o.a, o.a_flag, o.b, o.b_flag, out, out_flag, en, c.frac);
            }
            if (c.acc)
                accumulator += steps::sum_enabled(out, use_enable ? en : nullptr, n);
            else if (!write_in_place)
                steps::store_results(c.op, mem, d, n, out, out_flag, use_enable ? en : nullptr, row.dest_flags,
                                     w.narrowed);
        }
    }
};

}  // namespace kmrsim
