// Mask setup and query. Every step of a setup is an ordinary one-dimensional
// instruction with the mask memory as its byte destination, so it is
// counted, charged, checked and pipelined like any other instruction.
#include <cstdio>

#include "dispatch.hpp"

namespace {

const char *const setup_function = "void kmrsim_masked_setup_common(kmrsim_vmode_t, vinstr_t, void*, bool)";

// The condition that holds exactly where the given one fails.
vinstr_t inverted_condition(vinstr_t instr)
{
    switch (instr) {
    case VCMV_LEZ: return VCMV_GTZ;
    case VCMV_GTZ: return VCMV_LEZ;
    case VCMV_LTZ: return VCMV_GEZ;
    case VCMV_GEZ: return VCMV_LTZ;
    case VCMV_Z: return VCMV_NZ;
    case VCMV_NZ: return VCMV_Z;
    default: return instr;
    }
}

// One step of a setup: an SV instruction with scalar A, source B (elements
// of type S) and the mask memory as a byte destination, issued through the
// same chain as the SV entry points.
template <typename S>
void setup_step(vinstr_t instr, int32_t scalar, void *src, bool masked)
{
    using D = std::conditional_t<std::is_signed_v<S>, int8_t, uint8_t>;
    kmrsim::run_entry<kmrsim::FORM_SV, S, D>(1, false, masked, instr, kmrsim::sim().mask_memory,
                                             kmrsim::make_operand(scalar), kmrsim::make_operand(src));
}

template <typename S>
void setup(vinstr_t instr, void *src, bool is_masked)
{
    if (!is_masked) {
        setup_step<S>(VMOV, 0, nullptr, false);
        setup_step<S>(instr, 1, src, false);
    } else {
        setup_step<S>(inverted_condition(instr), 0, src, true);
    }
}

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
    KMRSIM_ASSERT(current_vector_length <= max_masked_vector_length,
                  "current_vector_length <= max_masked_vector_length", setup_function);

    // Only the element width and signedness of the source count; the
    // operand-form letters of the mode are ignored.
    const int value = static_cast<int>(mode);
    const bool is_unsigned = (value & 1) != 0;
    const int src_width = value / 24;
    const int dst_width = (value / 8) % 3;
    KMRSIM_ASSERT(value >= 0 && value < KMRSIM_NUM_MODES && src_width == dst_width,
                  "\"TYPE CONVERSION NOT SUPPORTED FOR MASKED SETUP\\n\" && 0", setup_function);
    switch (src_width * 2 + (is_unsigned ? 1 : 0)) {
    case 0: setup<int8_t>(instr, src, is_masked); break;
    case 1: setup<uint8_t>(instr, src, is_masked); break;
    case 2: setup<int16_t>(instr, src, is_masked); break;
    case 3: setup<uint16_t>(instr, src, is_masked); break;
    case 4: setup<int32_t>(instr, src, is_masked); break;
    default: setup<uint32_t>(instr, src, is_masked); break;
    }
    s.mask_length = current_vector_length;
}

extern "C" void kmrsim_setup_mask(kmrsim_vmode_t mode, vinstr_t instr, void *src)
{
    kmrsim_masked_setup_common(mode, instr, src, false);
}

extern "C" void kmrsim_setup_mask_masked(kmrsim_vmode_t mode, vinstr_t instr, void *src)
{
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
