// Opcode mnemonics, generated from the opcode list of kmr_types.h.
#include "kmrsim.hpp"

namespace {

#define KMRSIM_OPCODE_NAME_(name, value) #name,
constexpr const char *kOpcodeNames[] = {KMR_OPCODE_LIST(KMRSIM_OPCODE_NAME_)};
#undef KMRSIM_OPCODE_NAME_

// The list gives every value from 0 to MAX_INSTR_VAL once, in order, so a
// value indexes its own name.
#define KMRSIM_OPCODE_VALUE_(name, value) value,
constexpr int kOpcodeValues[] = {KMR_OPCODE_LIST(KMRSIM_OPCODE_VALUE_)};
#undef KMRSIM_OPCODE_VALUE_
static_assert([] {
    int expected = 0;
    for (int v : kOpcodeValues)
        if (v != expected++)
            return false;
    return expected == KMRSIM_NUM_OPCODES;
}());
static_assert(sizeof kOpcodeNames / sizeof kOpcodeNames[0] == KMRSIM_NUM_OPCODES);

}  // namespace

const char *kmrsim::opcode_name(int opcode)
{
    return opcode >= 0 && opcode < KMRSIM_NUM_OPCODES ? kOpcodeNames[opcode] : nullptr;
}

extern "C" const char *kmrsim_opcode_name(int opcode)
{
    return kmrsim::opcode_name(opcode);
}
