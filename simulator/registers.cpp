// Instruction registers: the vector length, the 2D row count and strides and
// the 3D matrix count and strides. Every write is wrapped by the register's
// mask; strides are sign-extended from the mask's width when read.
#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "issue_record.hpp"
#include "kmrsim.hpp"
#include "observers.hpp"

namespace {

constexpr const char *kSetVlFunc = "void KMR_SET_VL(uint32_t, uint32_t, uint32_t)";
constexpr const char *kSetVl3dFunc = "void KMR_SET_VL3D(uint32_t, uint32_t, uint32_t)";

// Checks a register number that the program passed to `api`; a bad one is
// described (with the program's call site) before the assertion report.
void check_reg(uint32_t reg, const char *api, const void *caller)
{
    if (reg >= KMRSIM_NUM_REGS) {
        char what[160];
        std::snprintf(what, sizeof what, "%s: register %" PRIu32 " does not exist (registers 0 to %d)", api, reg,
                      KMRSIM_NUM_REGS - 1);
        kmrsim::print_call_context(false, what, caller);
    }
    kmr_assert_tqm_reg_range(reg);
}

void write_reg(uint32_t reg, uint32_t value)
{
    kmr_sim_t &s = kmrsim::sim();
    s.regs[reg] = value & s.reg_mask[reg];
}

void bad_selector(const char *api, uint32_t selector, const void *caller)
{
    char what[160];
    std::snprintf(what, sizeof what, "%s: selector %" PRIu32 " is not a register selector", api, selector);
    kmrsim::print_call_context(false, what, caller);
}

// Traces a register setting: the names and the values as written (strides
// sign-extended), e.g. "rows=4 d2=-256".
void trace_pair(const char *first, int reg1, const char *second, int reg2, const void *caller)
{
    if (!kmrsim::observers_active) [[likely]]
        return;
    const kmr_sim_t &s = kmrsim::sim();
    auto shown = [&](int reg) -> long long {
        if (reg >= REG_ID2 && reg <= REG_IB3 && reg != REG_MATS)
            return kmrsim::sign_extend_stride(s.regs[reg], s.reg_mask[reg]);
        return s.regs[reg];
    };
    char text[96];
    if (second == nullptr)
        std::snprintf(text, sizeof text, "%s=%lld", first, shown(reg1));
    else
        std::snprintf(text, sizeof text, "%s=%lld %s=%lld", first, shown(reg1), second, shown(reg2));
    kmrsim::observe_register(text, caller);
}

}  // namespace

extern "C" void kmr_assert_tqm_reg_range(uint32_t reg)
{
    KMRSIM_ASSERT(reg < 32, "reg < 32", "void kmr_assert_tqm_reg_range(uint32_t)");
}

extern "C" void KMR_SET(uint32_t reg, uint32_t value)
{
    check_reg(reg, "KMR_SET", __builtin_return_address(0));
    write_reg(reg, value);
    if (kmrsim::observers_active) [[unlikely]] {
        char name[16];
        std::snprintf(name, sizeof name, "reg%" PRIu32, reg);
        trace_pair(name, static_cast<int>(reg), nullptr, 0, __builtin_return_address(0));
    }
}

extern "C" uint32_t _KMR_GET1(uint32_t reg)
{
    check_reg(reg, "_KMR_GET1", __builtin_return_address(0));
    return kmrsim::sim().regs[reg];
}

extern "C" void KMR_SET_VL(uint32_t selector, uint32_t new_vl1, uint32_t new_vl2)
{
    kmrsim_stats_t &st = kmrsim::sim().stats;
    switch (selector) {
    case KMR_SEL_VL:
        // Counted before the check, so a failed setting still shows up.
        st.set_vl_count += 1;
        if (new_vl1 != new_vl2) {
            char what[160];
            std::snprintf(what, sizeof what,
                          "KMR_SET_VL: the two vector lengths differ (%" PRIu32 " and %" PRIu32 ")", new_vl1, new_vl2);
            kmrsim::print_call_context(false, what, __builtin_return_address(0));
        }
        KMRSIM_ASSERT(new_vl1 == new_vl2, "new_vl1 == new_vl2", kSetVlFunc);
        write_reg(REG_VL, new_vl1);
        trace_pair("vl", REG_VL, nullptr, 0, __builtin_return_address(0));
        break;
    case KMR_SEL_COUNT:
        st.set_2D_count += 1;
        write_reg(REG_ROWS, new_vl1);
        write_reg(REG_ID2, new_vl2);
        trace_pair("rows", REG_ROWS, "d2", REG_ID2, __builtin_return_address(0));
        break;
    case KMR_SEL_STRIDES:
        write_reg(REG_IA2, new_vl1);
        write_reg(REG_IB2, new_vl2);
        trace_pair("a2", REG_IA2, "b2", REG_IB2, __builtin_return_address(0));
        break;
    default:
        bad_selector("KMR_SET_VL", selector, __builtin_return_address(0));
        KMRSIM_ASSERT(0, "0", kSetVlFunc);
    }
}

extern "C" void KMR_SET_VL3D(uint32_t selector, uint32_t value1, uint32_t value2)
{
    switch (selector) {
    case KMR_SEL_COUNT:
        kmrsim::sim().stats.set_3D_count += 1;
        write_reg(REG_MATS, value1);
        write_reg(REG_ID3, value2);
        trace_pair("mats", REG_MATS, "d3", REG_ID3, __builtin_return_address(0));
        break;
    case KMR_SEL_STRIDES:
        write_reg(REG_IA3, value1);
        write_reg(REG_IB3, value2);
        trace_pair("a3", REG_IA3, "b3", REG_IB3, __builtin_return_address(0));
        break;
    default:
        bad_selector("KMR_SET_VL3D", selector, __builtin_return_address(0));
        KMRSIM_ASSERT(0, "0", kSetVl3dFunc);
    }
}

int32_t kmrsim::sign_extend_stride(uint32_t value, uint32_t mask)
{
    // The highest bit inside the mask is the sign bit.
    if ((value & (~mask >> 1)) != 0)
        value |= ~mask;
    return static_cast<int32_t>(value);
}
