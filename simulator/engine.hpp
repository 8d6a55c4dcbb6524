// The instruction engine: the strided traversal that cuts an instruction
// into rows, the row engine that prepares each row's operands, the lane-group
// executor with its write-back pipeline, and a whole-row path for rows whose
// results provably cannot depend on the write-back timing (there the row is
// computed in long tight loops).
//
// One template, engine<D, S, Src>, serves every instruction: D is the
// destination element type, S the computation type and Src the element type
// of vector sources; all three share one signedness.
#pragma once

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <type_traits>
#include <utility>

#include "element_ops.hpp"
#include "kmrsim.hpp"
#include "overlap.hpp"
#include "pipeline.hpp"
#include "workspace.hpp"

namespace kmrsim {

// Operand modes as the engine numbers them.
enum operand_mode : int {
    MODE_VV = 0,
    MODE_SV = 1,
    MODE_VE = 2,
    MODE_SE = 3
};
constexpr bool a_is_vector(int mode)
{
    return mode == MODE_VV || mode == MODE_VE;
}
constexpr bool b_is_vector(int mode)
{
    return mode == MODE_VV || mode == MODE_SV;
}

// The accumulator of accumulating instructions: 64 bits in the simulator,
// wrapped to the hardware's 40 bits at the end of every row.
constexpr int accumulator_width = 40;
extern int64_t accumulator;

// When false, every instruction goes through the lane-group pipeline; the
// tests use it to compare the whole-row path with the pipeline model.
extern bool whole_row_path_enabled;

// Which inputs a built-in opcode reads and whether it may cancel its write.
struct op_info {
    bool reads_a_flag;
    bool reads_b;
    bool reads_b_flag;
    bool conditional;
};

template <size_t... I>
constexpr std::array<op_info, sizeof...(I)> make_op_info(std::index_sequence<I...>)
{
    return {{op_info{element_op<int(I), int32_t>::reads_a_flag, element_op<int(I), int32_t>::reads_b,
                     element_op<int(I), int32_t>::reads_b_flag, element_op<int(I), int32_t>::conditional}...}};
}
inline constexpr std::array<op_info, 24> builtin_op_info = make_op_info(std::make_index_sequence<24>());

// What a custom function may use: everything.
inline constexpr op_info custom_op_info{true, true, true, true};

// Enable value of an element that takes part: every byte 1.
template <typename T>
constexpr T enable_value()
{
    using U = std::make_unsigned_t<T>;
    return static_cast<T>(static_cast<U>(static_cast<U>(~U(0)) / U(0xFF)));
}

inline uintptr_t addr(const void *p)
{
    return reinterpret_cast<uintptr_t>(p);
}
inline void *ptr(uintptr_t a)
{
    return reinterpret_cast<void *>(a);
}

// Scratchpad elements may sit at any byte address, so every access goes
// through memcpy (which compiles to a plain load or store).
template <typename T>
inline T load(uintptr_t a)
{
    T v;
    std::memcpy(&v, ptr(a), sizeof v);
    return v;
}
template <typename T>
inline void store(uintptr_t a, T v)
{
    std::memcpy(ptr(a), &v, sizeof v);
}

// The scratchpad and flag memory as one instruction sees them.
struct memory_view {
    uintptr_t base;
    uintptr_t end;
    uint8_t *flags;

    static memory_view current()
    {
        const kmr_sim_t &s = sim();
        return {addr(s.tqm.scratchpad_addr), addr(s.tqm.scratchpad_end), s.flag_memory};
    }
    bool holds(uintptr_t a, size_t bytes) const { return a >= base && a <= end && bytes <= end - a; }
    uintptr_t flag_of(uintptr_t a) const { return addr(flags) + (a - base); }
};

// Range check of an operand: the state's shared check, with lengths beyond
// the int range handed to its 64-bit form.
inline void check_range(uintptr_t a, int64_t len)
{
    if (len >= INT32_MIN && len <= INT32_MAX)
        verify_sp_ptr(ptr(a), static_cast<int>(len));
    else
        verify_sp_range(ptr(a), len);
}

// Completes pending DMA over an operand range, then checks the range. The
// built-in completion routine has nothing to do on an empty queue, and the
// range check cannot fail for a range inside the scratchpad, so those two
// common cases skip the calls.
inline void prepare_operand(const memory_view &mem, uintptr_t a, int64_t len)
{
    const kmr_sim_t &s = sim();
    const size_t bytes = static_cast<size_t>(std::max<int64_t>(len, 0));
    if (s.dma_until_hook != nullptr && (s.dma_queue != nullptr || s.dma_until_hook != &_internal_do_dma_until))
        s.dma_until_hook(ptr(a), bytes);
    if (len < 0 || !mem.holds(a, bytes))
        check_range(a, len);
}

// A source row as the whole-row path reads it: element values, and flag
// memory (0 when the row has no flags: the mask memory, or a scalar).
struct source_view {
    uintptr_t values = 0;
    uintptr_t flags = 0;
};

template <typename D, typename S, typename Src>
struct engine {
    using stage = stage_t<D, S>;
    static constexpr S ones = enable_value<S>();

    // Everything an instruction decides once, before its first row.
    struct instr_ctx {
        vinstr_t op;
        int mode;
        bool masked;
        bool acc;
        bool custom;
        int G;
        kmrsim_custom_func_t func;
        uint16_t opcode_select;
        op_loop_fn<S> loop_all;
        op_loop_fn<S> loop_some;
        op_info info;
        unsigned frac;
        memory_view mem;
        row_plan plan;
        bool dest_flags;  // the current row's destination has flags (is not in the mask memory)
    };

    struct instance {
        workspace<D, S> ws;
        ring_buffer<stage, 4> rb;
    };

    // The executor instance's storage and ring buffer, made on first use and
    // kept for the life of the process.
    static instance &self()
    {
        static instance inst;
        return inst;
    }

    // Runs one instruction that the dispatch has admitted.
    static void run(int dim, int mode, vinstr_t op, void *dest, const void *A, const void *B, bool masked, bool acc)
    {
        const kmr_sim_t &s = sim();
        // Every field is set below; value-initialising the whole record would
        // cost more than the rest of a short instruction's set-up.
        instr_ctx c;
        c.func = nullptr;
        c.opcode_select = 0;
        c.loop_all = nullptr;
        c.loop_some = nullptr;
        c.frac = 0;
        c.dest_flags = true;
        c.op = op;
        c.mode = mode;
        c.masked = masked;
        c.acc = acc;
        c.custom = op >= VCUSTOM;
        c.G = lanes_for_instruction(op) * 4 / static_cast<int>(sizeof(S));
        c.mem = memory_view::current();
        if (c.custom) {
            const kmrsim_custom_entry_t &e = s.custom_instructions[op - VCUSTOM];
            c.func = e.func;
            const int shift = (op - VCUSTOM) - e.first;
            c.opcode_select = (shift >= 0 && shift < 16) ? uint16_t(1u << shift) : 0;
            c.info = custom_op_info;
        } else {
            c.loop_all = select_op_loop<S, true>(op);
            c.loop_some = select_op_loop<S, false>(op);
            c.info = builtin_op_info[op];
            c.frac = frac_bits<S>();
        }
        kmrsim_strided_engine(dim, addr(dest), addr(A), addr(B), c);
    }

    // Cuts the instruction into rows (matrices outer, rows inner) and hands
    // each to the row engine with the first/last-row flags.
    static void kmrsim_strided_engine(int dim, uintptr_t dest, uintptr_t A, uintptr_t B, instr_ctx &c)
    {
        const kmr_sim_t &s = sim();
        // Strides of the dimensions an instruction does not have cannot move
        // anything (their only row or matrix has index 0), so they are left 0.
        const int32_t M = dim == 3 ? static_cast<int32_t>(s.regs[REG_MATS]) : 1;
        const int32_t R = dim >= 2 ? static_cast<int32_t>(s.regs[REG_ROWS]) : 1;
        int32_t d3 = 0, a3 = 0, b3 = 0, d2 = 0, a2 = 0, b2 = 0;
        if (dim == 3) {
            d3 = sign_extend_stride(s.regs[REG_ID3], s.reg_mask[REG_ID3]);
            a3 = sign_extend_stride(s.regs[REG_IA3], s.reg_mask[REG_IA3]);
            b3 = sign_extend_stride(s.regs[REG_IB3], s.reg_mask[REG_IB3]);
        }
        if (dim >= 2) {
            d2 = sign_extend_stride(s.regs[REG_ID2], s.reg_mask[REG_ID2]);
            a2 = sign_extend_stride(s.regs[REG_IA2], s.reg_mask[REG_IA2]);
            b2 = sign_extend_stride(s.regs[REG_IB2], s.reg_mask[REG_IB2]);
        }
        if (!a_is_vector(c.mode))
            a2 = a3 = 0;
        if (!b_is_vector(c.mode))
            b2 = b3 = 0;  // the enumeration has no address
        if (M <= 0 || R <= 0)
            return;

        self().ws.ensure(static_cast<size_t>(c.G));
        c.plan = make_plan(dest, A, B, d2, d3, a2, a3, b2, b3, R, M, c);

        for (int32_t m = 0; m < M; ++m) {
            for (int32_t r = 0; r < R; ++r) {
                const uintptr_t rd = dest + row_offset(m, d3, r, d2);
                const uintptr_t ra = A + row_offset(m, a3, r, a2);
                const uintptr_t rb = B + row_offset(m, b3, r, b2);
                kmrsim_group_engine(rd, ra, rb, c, m == 0 && r == 0, m == M - 1 && r == R - 1);
            }
        }
    }

    // m * s3 + r * s2, each product wrapping as a signed 32-bit number.
    static uintptr_t row_offset(int32_t m, int32_t s3, int32_t r, int32_t s2)
    {
        const int32_t p3 = static_cast<int32_t>(static_cast<uint32_t>(m) * static_cast<uint32_t>(s3));
        const int32_t p2 = static_cast<int32_t>(static_cast<uint32_t>(r) * static_cast<uint32_t>(s2));
        return static_cast<uintptr_t>(static_cast<intptr_t>(p3)) + static_cast<uintptr_t>(static_cast<intptr_t>(p2));
    }

    // Decides whether rows may be computed whole. Custom functions always see
    // real lane groups. Accumulating rows write nothing until their end, so
    // they never feed back. Otherwise every source that the opcode reads (and
    // the mask) must be unable to see a result of the same instruction at a
    // position the pipeline would not show it: disjoint from the destination
    // over all rows, or, in a one-row instruction, in one of the relations of
    // classify_source that has a whole-row equivalent.
    static row_plan make_plan(uintptr_t dest, uintptr_t A, uintptr_t B, int32_t d2, int32_t d3, int32_t a2, int32_t a3,
                              int32_t b2, int32_t b3, int32_t R, int32_t M, const instr_ctx &c)
    {
        row_plan plan;
        if (!whole_row_path_enabled || c.custom)
            return plan;
        plan.direct = true;
        if (c.acc)
            return plan;
        const kmr_sim_t &s = sim();
        const int64_t L = c.masked ? s.mask_length : static_cast<int32_t>(s.regs[REG_VL]);
        const bool reads_a = a_is_vector(c.mode);
        const bool reads_b = b_is_vector(c.mode) && (c.info.reads_b || c.info.reads_b_flag);
        const uintptr_t mask = addr(s.mask_memory);

        if (R == 1 && M == 1) {
            auto classify = [&](uintptr_t src, size_t size) {
                return classify_source(src, size, dest, sizeof(D), L, c.G, plan.chunk_limit);
            };
            if (reads_a)
                plan.a = classify(A, sizeof(Src));
            if (reads_b)
                plan.b = classify(B, sizeof(Src));
            if (c.masked)
                plan.mask = classify(mask, 1);
            plan.direct = plan.a != source_access::pipeline && plan.b != source_access::pipeline &&
                          plan.mask != source_access::pipeline;
            return plan;
        }

        span ds;
        if (!operand_span(dest, d2, d3, R, M, L * int64_t(sizeof(D)), ds))
            return row_plan{};
        // Destination rows that do not overlap one another: then a source that
        // is the destination itself, row for row and element for element, only
        // ever reads an element before that same element is written.
        const int64_t dest_row_bytes = L * int64_t(sizeof(D));
        const int64_t step2 = d2 < 0 ? -int64_t(d2) : int64_t(d2);
        const int64_t step3 = d3 < 0 ? -int64_t(d3) : int64_t(d3);
        const bool rows_apart =
            (R == 1 || step2 >= dest_row_bytes) && (M == 1 || step3 >= step2 * (R - 1) + dest_row_bytes);
        auto independent = [&](uintptr_t base, int32_t s2, int32_t s3, size_t elem) {
            if (rows_apart && base == dest && s2 == d2 && s3 == d3 && elem == sizeof(D))
                return true;
            span os;
            return operand_span(base, s2, s3, R, M, L * int64_t(elem), os) && !spans_overlap(ds, os);
        };
        if ((reads_a && !independent(A, a2, a3, sizeof(Src))) || (reads_b && !independent(B, b2, b3, sizeof(Src))) ||
            (c.masked && !independent(mask, 0, 0, 1)))
            return row_plan{};
        return plan;
    }

    // One row: DMA completion and range checks on every operand, then the
    // lane groups (or the whole row at once), then the accumulated sum.
    static void kmrsim_group_engine(uintptr_t dest, uintptr_t A, uintptr_t B, instr_ctx &c, bool first_row,
                                    bool last_row)
    {
        const kmr_sim_t &s = sim();
        accumulator = 0;
        const int32_t L = c.masked ? s.mask_length : static_cast<int32_t>(s.regs[REG_VL]);
        const int64_t row_bytes = int64_t(L) * int64_t(sizeof(Src));
        c.dest_flags = !mask_memory_contains(ptr(dest));
        prepare_operand(c.mem, dest, c.acc ? int64_t(sizeof(D)) : int64_t(L) * int64_t(sizeof(D)));
        if (a_is_vector(c.mode))
            prepare_operand(c.mem, A, row_bytes);
        if (b_is_vector(c.mode) && c.op != VMOV)
            prepare_operand(c.mem, B, row_bytes);

        // Sources in the scratchpad have flags; anything else (a scalar, the
        // enumeration, the mask memory) reads flag 0.
        auto vector_source = [&](uintptr_t p) {
            return source_view{p, c.mem.holds(p, size_t(std::max<int64_t>(row_bytes, 0))) ? c.mem.flag_of(p) : 0};
        };
        source_view a, b;
        if (a_is_vector(c.mode))
            a = vector_source(A);
        if (b_is_vector(c.mode) && c.op != VMOV)
            b = vector_source(B);

        if (c.plan.direct) {
            run_row(dest, A, a, b, c, L);
        } else {
            const int G = c.G;
            for (int32_t offset = 0; offset < L; offset += G) {
                const int valid = std::min(G, L - offset);
                execute_lane_group(dest, A, a, b, c, G, valid, offset, offset == 0 && first_row,
                                   last_row && int64_t(offset) + G >= L);
            }
        }
        if (c.acc)
            finish_accumulation(dest, c);
    }

    // ---------------------------------------------------------------------
    // Lane-group executor with the write-back pipeline.

    static void execute_lane_group(uintptr_t dest, uintptr_t A, const source_view &a, const source_view &b,
                                   instr_ctx &c, int G, int valid, int offset, bool start, bool end)
    {
        instance &in = self();
        workspace<D, S> &w = in.ws;
        const kmr_sim_t &s = sim();
        const int slot = in.rb.next_slot();
        S *out = w.out[slot];
        S *out_flag = w.out_flag[slot];
        S *en = w.enable[slot];

        if (c.custom) {
            const uintptr_t dp = dest + uintptr_t(offset) * sizeof(D);
            const bool dest_has_flags = c.mem.holds(dp, size_t(valid) * sizeof(D));
            for (int i = 0; i < valid; ++i) {
                out[i] = static_cast<S>(load<D>(dp + uintptr_t(i) * sizeof(D)));
                out_flag[i] = dest_has_flags ? S(load<D>(c.mem.flag_of(dp) + uintptr_t(i) * sizeof(D)) != 0) : S(0);
            }
        }
        if (a.values != 0) {
            read_group(a, offset, valid, w.a, c.info.reads_a_flag ? w.a_flag : nullptr);
        } else {
            const S scalar = static_cast<S>(load<int32_t>(A));
            for (int i = 0; i < valid; ++i) {
                w.a[i] = scalar;
                w.a_flag[i] = 0;
            }
        }
        if (b.values != 0) {
            read_group(b, offset, valid, c.info.reads_b ? w.b : nullptr, c.info.reads_b_flag ? w.b_flag : nullptr);
        } else {
            for (int i = 0; i < valid; ++i) {
                w.b[i] = static_cast<S>(offset + i);
                w.b_flag[i] = 0;
            }
        }
        if (c.masked) {
            const uint8_t *mask = s.mask_memory + offset;
            for (int i = 0; i < valid; ++i)
                en[i] = mask[i] != 0 ? ones : S(0);
        } else {
            for (int i = 0; i < valid; ++i)
                en[i] = ones;
        }
        for (int i = valid; i < G; ++i)
            en[i] = 0;

        uintptr_t group_dest = dest + uintptr_t(offset) * sizeof(D);
        if (c.custom) {
            group_dest = call_custom(c, group_dest, start, end, w, out, out_flag, en);
            if (!c.acc)
                check_custom_writes(group_dest, dest + uintptr_t(offset) * sizeof(D), G, valid, en);
        } else {
            c.loop_some(size_t(valid), w.a, w.a_flag, w.b, w.b_flag, out, out_flag, en, c.frac);
        }

        if (c.acc) {
            for (int i = 0; i < G; ++i)
                if (en[i] != 0)
                    accumulator += static_cast<int64_t>(out[i]);
            return;
        }

        if constexpr (sizeof(D) < sizeof(S)) {
            narrow_n<D, S>(c.op, size_t(G), out, w.narrowed);
            for (int i = 0; i < G; ++i)
                out[i] = static_cast<S>(w.narrowed[i]);
        }
        w.all_enabled[slot] = !c.custom && !c.masked && !c.info.conditional && valid == G;
        w.write_flags[slot] =
            group_dest == dest + uintptr_t(offset) * sizeof(D) ? c.dest_flags : !mask_memory_contains(ptr(group_dest));
        in.rb.put(stage{out, out_flag, static_cast<D *>(ptr(group_dest)), en});
        while (in.rb.full() || (end && !in.rb.empty())) {
            const int oldest = in.rb.tail;
            write_back(in.rb.get(), G, c.mem, w.all_enabled[oldest], w.write_flags[oldest]);
        }
    }

    // Reads one lane group of a source: values (if wanted) and flags as 0/1
    // (if wanted).
    static void read_group(const source_view &src, int offset, int valid, S *values, S *flags)
    {
        const uintptr_t p = src.values + uintptr_t(offset) * sizeof(Src);
        if (values != nullptr)
            for (int i = 0; i < valid; ++i)
                values[i] = static_cast<S>(load<Src>(p + uintptr_t(i) * sizeof(Src)));
        if (flags != nullptr) {
            if (src.flags != 0) {
                const uintptr_t f = src.flags + uintptr_t(offset) * sizeof(Src);
                for (int i = 0; i < valid; ++i)
                    flags[i] = S(load<Src>(f + uintptr_t(i) * sizeof(Src)) != 0);
            } else {
                std::fill_n(flags, valid, S(0));
            }
        }
    }

    static void write_back(const stage &st, int G, const memory_view &mem, bool all_enabled, bool write_flags)
    {
        const uintptr_t d = addr(st.dest);
        const uintptr_t f = write_flags ? mem.flag_of(d) : 0;
        for (int i = 0; i < G; ++i) {
            if (!all_enabled && st.enable[i] == 0)
                continue;
            store<D>(d + uintptr_t(i) * sizeof(D), static_cast<D>(st.result[i]));
            if (write_flags)
                store<D>(f + uintptr_t(i) * sizeof(D), static_cast<D>(st.flag[i]));
        }
    }

    static uintptr_t call_custom(const instr_ctx &c, uintptr_t group_dest, bool start, bool end, workspace<D, S> &w,
                                 S *out, S *out_flag, S *en)
    {
        kmrsim_custom_args args;  // every field is set below
        args.opcode_select = c.opcode_select;
        args.start = start ? 1 : 0;
        args.end = end ? 1 : 0;
        args.dest_addr_in = ptr(group_dest);
        args.dest_addr_out = ptr(group_dest);
        args.is_signed = std::is_signed_v<S> ? 1 : 0;
        args.opsize = sizeof(S) == 1 ? 0 : sizeof(S) == 2 ? 1 : 2;
        args.valid_in = en;
        args.valid_out = en;
        args.a = w.a;
        args.a_flag = w.a_flag;
        args.b = w.b;
        args.b_flag = w.b_flag;
        args.out = out;
        args.out_flag = out_flag;
        c.func(&args);
        return addr(args.dest_addr_out);
    }

    // A custom function may redirect its lane group or enable positions past
    // the row's end; the range that will really be written is checked before
    // anything of it is queued.
    static void check_custom_writes(uintptr_t group_dest, uintptr_t checked_dest, int G, int valid, const S *en)
    {
        int last = -1;
        for (int i = G - 1; i >= 0; --i) {
            if (en[i] != 0) {
                last = i;
                break;
            }
        }
        if (last < 0 || (group_dest == checked_dest && last < valid))
            return;
        check_range(group_dest, int64_t(last + 1) * int64_t(sizeof(D)));
    }

    // ---------------------------------------------------------------------
    // Whole-row computation, in chunks.

    // Copies a source row that must be read as it was before the instruction.
    static source_view copy_source(const source_view &src, size_t bytes, byte_buffer &values, byte_buffer &flags)
    {
        source_view copy;
        copy.values = addr(values.reserve(bytes));
        std::memcpy(ptr(copy.values), ptr(src.values), bytes);
        if (src.flags != 0) {
            copy.flags = addr(flags.reserve(bytes));
            std::memcpy(ptr(copy.flags), ptr(src.flags), bytes);
        }
        return copy;
    }

    static void run_row(uintptr_t dest, uintptr_t A, source_view a, source_view b, const instr_ctx &c, int32_t L)
    {
        if (L <= 0)
            return;
        workspace<D, S> &w = self().ws;
        const kmr_sim_t &s = sim();
        const memory_view &mem = c.mem;
        const size_t row_bytes = size_t(L) * sizeof(Src);
        if (c.plan.a == source_access::copy)
            a = copy_source(a, row_bytes, w.copy_a, w.copy_a_flag);
        if (c.plan.b == source_access::copy)
            b = copy_source(b, row_bytes, w.copy_b, w.copy_b_flag);
        const uint8_t *mask = s.mask_memory;
        if (c.masked && c.plan.mask == source_access::copy) {
            uint8_t *m = w.copy_mask.reserve(size_t(L));
            std::memcpy(m, mask, size_t(L));
            mask = m;
        }

        const size_t chunk = std::min(w.cap, c.plan.chunk_limit);
        const bool use_enable = c.masked || c.info.conditional;
        const bool dest_flags = c.dest_flags;
        // Results may be computed straight into the destination and its flags
        // when nothing needs narrowing or an enable test.
        const bool write_in_place = !c.acc && !use_enable && dest_flags && std::is_same_v<D, S> &&
                                    dest % alignof(S) == 0 && mem.flag_of(dest) % alignof(S) == 0;
        S *en = w.enable[0];
        const S *a_flag = w.zero;
        const S *b_flag = w.zero;
        if (a.values == 0)
            std::fill_n(w.a, std::min(chunk, size_t(L)), static_cast<S>(load<int32_t>(A)));

        for (size_t base = 0; base < size_t(L); base += chunk) {
            const size_t n = std::min(chunk, size_t(L) - base);
            const S *av = w.a;
            const S *bv = w.b;
            if (a.values != 0) {
                av = source_values(a.values + base * sizeof(Src), n, w.a);
                if (c.info.reads_a_flag)
                    a_flag = source_flags(a, base, n, w.a_flag);
            }
            if (b.values != 0) {
                if (c.info.reads_b)
                    bv = source_values(b.values + base * sizeof(Src), n, w.b);
                if (c.info.reads_b_flag)
                    b_flag = source_flags(b, base, n, w.b_flag);
            } else if (c.info.reads_b && !b_is_vector(c.mode)) {
                for (size_t i = 0; i < n; ++i)
                    w.b[i] = static_cast<S>(base + i);
            }

            const uintptr_t d = dest + base * sizeof(D);
            S *out = write_in_place ? static_cast<S *>(ptr(d)) : w.out[0];
            S *out_flag = write_in_place ? static_cast<S *>(ptr(mem.flag_of(d))) : w.out_flag[0];
            if (use_enable) {
                if (c.masked) {
                    for (size_t i = 0; i < n; ++i)
                        en[i] = mask[base + i] != 0 ? ones : S(0);
                } else {
                    std::fill_n(en, n, ones);
                }
                c.loop_some(n, av, a_flag, bv, b_flag, out, out_flag, en, c.frac);
            } else {
                c.loop_all(n, av, a_flag, bv, b_flag, out, out_flag, en, c.frac);
            }

            if (c.acc) {
                int64_t sum = 0;
                if (use_enable) {
                    for (size_t i = 0; i < n; ++i)
                        sum += en[i] != 0 ? static_cast<int64_t>(out[i]) : 0;
                } else {
                    for (size_t i = 0; i < n; ++i)
                        sum += static_cast<int64_t>(out[i]);
                }
                accumulator += sum;
            } else if (!write_in_place) {
                store_results(d, n, c, w, out, out_flag, use_enable ? en : nullptr, dest_flags);
            }
        }
    }

    // Values of a source chunk as an S array: the scratchpad itself when the
    // element types agree and the address is aligned, else a converted copy.
    static const S *source_values(uintptr_t p, size_t n, S *to)
    {
        if constexpr (std::is_same_v<Src, S>) {
            if (p % alignof(S) == 0)
                return static_cast<const S *>(ptr(p));
        }
        for (size_t i = 0; i < n; ++i)
            to[i] = static_cast<S>(load<Src>(p + i * sizeof(Src)));
        return to;
    }

    // Flags of a source chunk, as 0 or 1.
    static const S *source_flags(const source_view &src, size_t base, size_t n, S *to)
    {
        if (src.flags == 0) {
            std::fill_n(to, n, S(0));
            return to;
        }
        const uintptr_t f = src.flags + base * sizeof(Src);
        for (size_t i = 0; i < n; ++i)
            to[i] = S(load<Src>(f + i * sizeof(Src)) != 0);
        return to;
    }

    static void store_results(uintptr_t d, size_t n, const instr_ctx &c, workspace<D, S> &w, const S *out,
                              const S *out_flag, const S *en, bool dest_flags)
    {
        const D *values;
        if constexpr (sizeof(D) < sizeof(S)) {
            narrow_n<D, S>(c.op, n, out, w.narrowed);
            values = w.narrowed;
        } else {
            values = reinterpret_cast<const D *>(out);
        }
        const uintptr_t f = dest_flags ? c.mem.flag_of(d) : 0;
        if (en == nullptr) {
            std::memcpy(ptr(d), values, n * sizeof(D));
            if (dest_flags)
                for (size_t i = 0; i < n; ++i)
                    store<D>(f + i * sizeof(D), static_cast<D>(out_flag[i]));
        } else {
            for (size_t i = 0; i < n; ++i) {
                if (en[i] == 0)
                    continue;
                store<D>(d + i * sizeof(D), values[i]);
                if (dest_flags)
                    store<D>(f + i * sizeof(D), static_cast<D>(out_flag[i]));
            }
        }
    }

    // ---------------------------------------------------------------------
    // End of an accumulating row: wrap to 40 bits, saturate to D, store the
    // sum and its flag in destination element 0.

    static void finish_accumulation(uintptr_t dest, const instr_ctx &c)
    {
        const int64_t sum = accumulator;
        const uint64_t top = static_cast<uint64_t>(sum) >> accumulator_width;
        const int64_t wrapped =
            static_cast<int64_t>(static_cast<uint64_t>(sum) << (64 - accumulator_width)) >> (64 - accumulator_width);
        if ((static_cast<uint64_t>(wrapped) >> accumulator_width) != top)
            std::fprintf(stderr, "Warning: %dbit accumulator has overflowed\n", accumulator_width);
        accumulator = wrapped;

        D value;
        D flag = 0;
        if constexpr (std::is_signed_v<D>) {
            if (wrapped > int64_t(max_int<D>())) {
                value = max_int<D>();
                flag = 1;
            } else if (wrapped < int64_t(min_int<D>())) {
                value = min_int<D>();
                flag = 1;
            } else {
                value = static_cast<D>(wrapped);
            }
        } else {
            if (static_cast<uint64_t>(wrapped) > uint64_t(max_int<D>())) {
                value = max_int<D>();
                flag = 1;
            } else {
                value = static_cast<D>(wrapped);
            }
        }
        check_range(dest, int64_t(sizeof(D)));
        store<D>(dest, value);
        if (c.dest_flags)
            store<D>(c.mem.flag_of(dest), flag);
    }
};

}  // namespace kmrsim
