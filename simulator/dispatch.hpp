// The chain every instruction runs before the engine: opcode and mask
// checks, scalar conversion, cycle accounting, counting, the custom-opcode
// check, and the hand-over to the engine instance of its element types.
#pragma once

#include <algorithm>
#include <type_traits>

#include "engine.hpp"
#include "kmrsim.hpp"

namespace kmrsim {

// Operand forms, numbered as in the mode values.
enum operand_form : int {
    FORM_SE = 0,
    FORM_SV = 1,
    FORM_VE = 2,
    FORM_VV = 3
};

constexpr int mode_of_form(int form)
{
    return form == FORM_VV ? MODE_VV : form == FORM_SV ? MODE_SV : form == FORM_VE ? MODE_VE : MODE_SE;
}

// Refuses, with an "Error: " message, an opcode outside 0..39 and a masked
// instruction when there is no mask memory; nothing is counted for them.
bool instruction_allowed(vinstr_t instr, bool masked);

// Adds the instruction's cycle estimate for 1 to 256 lanes to the statistics.
void account_cycles(vinstr_t instr, int dim, int esize);

// Counts the instruction, then decides whether it runs: an unregistered
// custom opcode, or one with no lanes, is refused with an "Error: " message.
bool admit_instruction(vinstr_t instr);

template <typename D, typename S, typename Src>
void kmrsim_dispatch(int dim, int mode, vinstr_t instr, void *dest, const void *A, const void *B, bool masked, bool acc)
{
    if (!admit_instruction(instr))
        return;
    engine<D, S, Src>::run(dim, mode, instr, dest, A, B, masked, acc);
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
    using S = std::conditional_t<Form == FORM_SE, Dst, Wide>;
    using VecSrc = std::conditional_t<Form == FORM_SE, Dst, Src>;

    if (!instruction_allowed(instr, masked))
        return;

    int32_t scalar = 0;
    const void *A;
    if constexpr (Form == FORM_SV) {
        scalar = static_cast<int32_t>(static_cast<S>(a.value));
        A = &scalar;
    } else if constexpr (Form == FORM_SE) {
        scalar = static_cast<int32_t>(static_cast<Dst>(a.value));
        A = &scalar;
    } else {
        A = ptr(a.address);
    }
    const void *B = (Form == FORM_VV || Form == FORM_SV) ? ptr(b.address) : nullptr;

    const int esize = Form == FORM_SE ? int(sizeof(Dst)) : int(std::max(sizeof(Src), sizeof(Dst)));
    account_cycles(instr, dim, esize);
    kmrsim_dispatch<Dst, S, VecSrc>(dim, mode_of_form(Form), instr, dest, A, B, masked, acc);
}

}  // namespace kmrsim
