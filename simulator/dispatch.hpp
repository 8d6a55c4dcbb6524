// The chain every instruction runs before the engine: opcode and mask
// checks, scalar conversion, cycle accounting, counting, the custom-opcode
// check, and the hand-over to the engine instance of its element types.
#pragma once

#include <algorithm>
#include <type_traits>

#include "engine_context.hpp"
#include "kmrsim.hpp"
#include "memory.hpp"
#include "observers.hpp"

namespace kmrsim {

// Whether an instruction can be issued at all: an opcode outside
// 0..MAX_INSTR_VAL, or a masked instruction without mask memory, is refused
// with an "Error: " message before anything is counted.
bool issuable(vinstr_t instr, bool masked);

// The last estimate made for each element size (1, 2, 4 bytes), with the
// shape it was made for: programs issue runs of instructions of one shape,
// and the estimate depends on nothing else.
struct cycle_memo {
    uint64_t vl = 0;
    uint32_t rows = 0, mats = 0;
    int dim = 0;  // 0: nothing remembered
    uint32_t cycles[KMRSIM_NUM_CONFIGS] = {};
};
extern cycle_memo cycle_memos[3];

// Makes the estimate for a new shape (out of line: the common case, a
// remembered shape, is a few compares and adds).
[[gnu::noinline]] void remember_shape(cycle_memo &m, int dim, int esize, uint32_t rows, uint32_t mats);

// Adds the instruction's cycle estimate for 1 to 256 lanes to the statistics.
inline void account_cycles(vinstr_t instr, int dim, int esize)
{
    kmr_sim_t &s = sim();
    cycle_memo &m = cycle_memos[esize >= 4 ? 2 : esize >= 2 ? 1 : 0];
    const uint32_t rows = dim >= 2 ? s.regs[REG_ROWS] : 0, mats = dim == 3 ? s.regs[REG_MATS] : 0;
    if (m.dim != dim || m.vl != s.regs[REG_VL] || m.rows != rows || m.mats != mats) [[unlikely]]
        remember_shape(m, dim, esize, rows, mats);
    uint32_t *cycles = s.stats.cycle_count[instr];
    for (int i = 0; i < KMRSIM_NUM_CONFIGS; ++i)
        cycles[i] += m.cycles[i];
}

// Counts the instruction, then decides whether it runs: an unregistered
// custom opcode, or an opcode with no lanes, is refused with an "Error: "
// message (counted and charged, not executed).
bool count_and_admit(vinstr_t instr);

// Runs an admitted instruction on the engine instance of destination type D,
// computation type S and vector source type Src. Each instance is compiled
// once, in engine_instances_*.cpp, not in every source that issues
// instructions.
template <typename D, typename S, typename Src>
void run_engine(int dim, int form, vinstr_t instr, void *dest, const void *A, const void *B, bool masked, bool acc);

template <typename D, typename S, typename Src>
void kmrsim_dispatch(int dim, int form, vinstr_t instr, void *dest, const void *A, const void *B, bool masked, bool acc)
{
    if (!count_and_admit(instr))
        return;
    run_engine<D, S, Src>(dim, form, instr, dest, A, B, masked, acc);
}

// Source A or B of an entry point: an address or a 32-bit value.
struct operand {
    uintptr_t address;
    int32_t value;
};
inline operand make_operand(void *p)
{
    return {addr(p), 0};
}
inline operand make_operand(int32_t v)
{
    return {0, v};
}

// The common chain of every entry point. Src and Dst are the element types of
// the name's width letters and signedness; the computation type is the wider
// of the two, or the destination type for the SE form, which reads no vector.
template <int Form, typename Src, typename Dst>
void run_entry(int dim, bool acc, bool masked, vinstr_t instr, void *dest, operand a, operand b)
{
    static_assert(std::is_signed_v<Src> == std::is_signed_v<Dst>);
    using Wide = std::conditional_t<(sizeof(Src) > sizeof(Dst)), Src, Dst>;
    using S = std::conditional_t<Form == KMRSIM_FORM_SE, Dst, Wide>;
    using VecSrc = std::conditional_t<Form == KMRSIM_FORM_SE, Dst, Src>;

    current_issue.op = static_cast<int>(instr);
    current_issue.dim = static_cast<uint8_t>(dim);
    current_issue.form = static_cast<uint8_t>(Form);
    current_issue.masked = masked;
    current_issue.acc = acc;
    if (!issuable(instr, masked))
        return;

    // A scalar is narrowed to the computation type (SV) or the destination
    // type (SE) and extended back by the signedness.
    int32_t scalar = 0;
    const void *A;
    if constexpr (Form == KMRSIM_FORM_SV) {
        scalar = static_cast<int32_t>(static_cast<S>(a.value));
        A = &scalar;
    } else if constexpr (Form == KMRSIM_FORM_SE) {
        scalar = static_cast<int32_t>(static_cast<Dst>(a.value));
        A = &scalar;
    } else {
        A = ptr(a.address);
    }
    const void *B = b_is_vector(Form) ? ptr(b.address) : nullptr;

    const int esize = Form == KMRSIM_FORM_SE ? int(sizeof(Dst)) : int(std::max(sizeof(Src), sizeof(Dst)));
    account_cycles(instr, dim, esize);
    if (observers_active) [[unlikely]]
        observe_issue(esize, dest, A, B);
    kmrsim_dispatch<Dst, S, VecSrc>(dim, Form, instr, dest, A, B, masked, acc);
}

}  // namespace kmrsim
