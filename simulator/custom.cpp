// Registration of custom instructions (VCUSTOM0 ... VCUSTOM15).
#include <cstddef>
#include <cstdio>

#include "kmrsim.hpp"

// The argument record is read by user functions compiled elsewhere: its
// layout is fixed (little-endian, 64-bit pointers, natural alignment).
static_assert(sizeof(void *) == 8, "the custom-instruction record assumes 64-bit pointers");
static_assert(offsetof(kmrsim_custom_args, opcode_select) == 0);
static_assert(offsetof(kmrsim_custom_args, start) == 2);
static_assert(offsetof(kmrsim_custom_args, end) == 3);
static_assert(offsetof(kmrsim_custom_args, dest_addr_in) == 8);
static_assert(offsetof(kmrsim_custom_args, dest_addr_out) == 16);
static_assert(offsetof(kmrsim_custom_args, is_signed) == 24);
static_assert(offsetof(kmrsim_custom_args, opsize) == 28);
static_assert(offsetof(kmrsim_custom_args, valid_in) == 32);
static_assert(offsetof(kmrsim_custom_args, valid_out) == 40);
static_assert(offsetof(kmrsim_custom_args, a) == 48);
static_assert(offsetof(kmrsim_custom_args, a_flag) == 56);
static_assert(offsetof(kmrsim_custom_args, b) == 64);
static_assert(offsetof(kmrsim_custom_args, b_flag) == 72);
static_assert(offsetof(kmrsim_custom_args, out) == 80);
static_assert(offsetof(kmrsim_custom_args, out_flag) == 88);
static_assert(sizeof(kmrsim_custom_args) == 96);

extern "C" void kmrsim_set_custom_instruction(int first, int count, int lanes, void (*func)(kmrsim_custom_args *))
{
    if (count <= 0)
        return;
    // A group that reaches outside VCUSTOM0..VCUSTOM15 names entries that do
    // not exist: refuse the whole registration rather than half of it.
    const int64_t last = int64_t(first) + int64_t(count) - 1;
    if (first < 0 || last >= KMRSIM_NUM_CUSTOM) {
        std::fprintf(stderr,
                     "Error: custom instruction group VCUSTOM%d..VCUSTOM%lld lies outside VCUSTOM0..VCUSTOM15; "
                     "nothing registered\n",
                     first, static_cast<long long>(last));
        return;
    }
    kmr_sim_t &s = kmrsim::sim();
    for (int k = first; k <= static_cast<int>(last); ++k) {
        kmrsim::custom_lanes(s.tqm, k) = static_cast<short>(lanes);
        s.custom_instructions[k] = kmrsim_custom_entry_t{func, first, count};
    }
}
