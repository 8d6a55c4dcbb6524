// Mask setup and query. Every step of a setup is an ordinary one-dimensional
// instruction with the mask memory as its byte destination, so it is
// counted, charged, checked and pipelined like any other instruction.
#include <cstdio>

#include "dispatch.hpp"
#include "observers.hpp"

namespace {

const char *const setup_function = "void kmrsim_masked_setup_common(kmrsim_vmode_t, vinstr_t, void*, bool)";

// The condition that holds exactly where the given one fails (a refinement
// writes 0 there under the old mask); other opcodes are used as they are.
vinstr_t inverted_condition(vinstr_t instr)
{
    const int inverse = kmrsim::opcode_info(instr).inverse_condition;
    return inverse >= 0 ? static_cast<vinstr_t>(inverse) : instr;
}

// One step of a setup: an SV instruction with scalar A, source B (elements
// of type Src) and the mask memory as a byte destination, issued through
// the same chain as the SV entry points.
template <typename Src>
void setup_step(vinstr_t instr, int32_t scalar, void *src, bool masked)
{
    using D = std::conditional_t<std::is_signed_v<Src>, int8_t, uint8_t>;
    kmrsim::run_entry<KMRSIM_FORM_SV, Src, D>(1, false, masked, instr, kmrsim::sim().mask_memory,
                                              kmrsim::make_operand(scalar), kmrsim::make_operand(src));
}

// A fresh mask: 0 everywhere, then 1 where the condition holds. A
// refinement: 0, under the old mask, where the condition fails.
template <typename Src>
void setup(vinstr_t instr, void *src, bool is_masked)
{
    if (!is_masked) {
        setup_step<Src>(VMOV, 0, nullptr, false);
        setup_step<Src>(instr, 1, src, false);
    } else {
        setup_step<Src>(inverted_condition(instr), 0, src, true);
    }
}

// The setup for each source width code and signedness code.
using setup_fn = void (*)(vinstr_t, void *, bool);
constexpr setup_fn kSetups[3][2] = {
    {setup<int8_t>, setup<uint8_t>}, {setup<int16_t>, setup<uint16_t>}, {setup<int32_t>, setup<uint32_t>}};

}  // namespace

void kmrsim_masked_setup_common(kmrsim_vmode_t mode, vinstr_t instr, void *src, bool is_masked)
{
    kmr_sim_t &s = kmrsim::sim();
    if (s.mask_memory == nullptr) {
        std::fprintf(stderr, "Error: mask setup without mask memory (mask depth 0); mask unchanged\n");
        return;
    }
    s.mask_status_read = 0;
    const int current_vector_length = static_cast<int32_t>(s.regs[REG_VL]);
    const int max_masked_vector_length = s.tqm.max_masked_vector_length;
    if (current_vector_length > max_masked_vector_length) {
        char what[200];
        std::snprintf(what, sizeof what,
                      "%s: the vector length %d is longer than the mask memory (%d elements: lanes x mask depth)",
                      kmrsim::current_issue.entry != nullptr ? kmrsim::current_issue.entry : "mask setup",
                      current_vector_length, max_masked_vector_length);
        kmrsim::print_call_context(false, what, kmrsim::current_issue.caller);
    }
    KMRSIM_ASSERT(current_vector_length <= max_masked_vector_length,
                  "current_vector_length <= max_masked_vector_length", setup_function);

    // Only the element width and signedness of the source count; the
    // operand-form letters of the mode are ignored.
    const int value = static_cast<int>(mode);
    const int src_width = KMRSIM_MODE_SRC_WIDTH(value);
    KMRSIM_ASSERT(value >= 0 && value < KMRSIM_NUM_MODES && src_width == KMRSIM_MODE_DST_WIDTH(value),
                  "\"TYPE CONVERSION NOT SUPPORTED FOR MASKED SETUP\\n\" && 0", setup_function);
    kSetups[src_width][KMRSIM_MODE_IS_UNSIGNED(value)](instr, src, is_masked);
    s.mask_length = current_vector_length;
    if (kmrsim::observers_active) [[unlikely]]
        kmrsim::observe_mask(is_masked, instr, src, current_vector_length);
}

extern "C" void kmrsim_setup_mask(kmrsim_vmode_t mode, vinstr_t instr, void *src)
{
    kmrsim::enter("kmrsim_setup_mask", __builtin_return_address(0));
    kmrsim_masked_setup_common(mode, instr, src, false);
}

extern "C" void kmrsim_setup_mask_masked(kmrsim_vmode_t mode, vinstr_t instr, void *src)
{
    kmrsim::enter("kmrsim_setup_mask_masked", __builtin_return_address(0));
    kmrsim_masked_setup_common(mode, instr, src, true);
}

extern "C" void kmr_get_mask(uint32_t *status)
{
    kmr_sim_t &s = kmrsim::sim();
    uint32_t word = 0;
    if (s.mask_memory != nullptr) {
        for (int32_t i = 0; i < s.mask_length; ++i) {
            if (s.mask_memory[i] != 0) {
                word |= 1u;
                break;
            }
        }
    }
    if (s.mask_status_read != 0)
        word |= 1u << 31;
    *status = word;
    s.mask_status_read = 1;
}
