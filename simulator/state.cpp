// The process-wide simulator state, its accessor, and the lane count of an
// opcode (vector lanes for built-in opcodes, the registered lane count for
// custom ones).
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "kmrsim.hpp"

// Static storage: every field is zero at process start. kmrsim_init relies
// on that for the statistics and the custom-instruction table.
kmr_sim_t kmrsim::global_kmrsim;

extern "C" kmr_sim_t *get_the_kmrsim(void)
{
    return &kmrsim::global_kmrsim;
}

extern "C" void set_the_kmrsim(kmr_sim_t *)
{
    std::printf("Error; set_the_kmrsim should not be called for single-threaded implementation\n");
    std::exit(-1);
}

namespace {

// The sixteen custom lane-count fields, addressed through member pointers so
// that indexing them never steps from one struct member into the next.
constexpr short kmr_tqm_t::*kCustomLanes[KMRSIM_NUM_CUSTOM] = {
    &kmr_tqm_t::vcustom0_lanes,  &kmr_tqm_t::vcustom1_lanes,  &kmr_tqm_t::vcustom2_lanes,  &kmr_tqm_t::vcustom3_lanes,
    &kmr_tqm_t::vcustom4_lanes,  &kmr_tqm_t::vcustom5_lanes,  &kmr_tqm_t::vcustom6_lanes,  &kmr_tqm_t::vcustom7_lanes,
    &kmr_tqm_t::vcustom8_lanes,  &kmr_tqm_t::vcustom9_lanes,  &kmr_tqm_t::vcustom10_lanes, &kmr_tqm_t::vcustom11_lanes,
    &kmr_tqm_t::vcustom12_lanes, &kmr_tqm_t::vcustom13_lanes, &kmr_tqm_t::vcustom14_lanes, &kmr_tqm_t::vcustom15_lanes,
};

}  // namespace

short &kmrsim::custom_lanes(kmr_tqm_t &tqm, int k)
{
    KMRSIM_ASSERT(k >= 0 && k < KMRSIM_NUM_CUSTOM, "k >= 0 && k < KMRSIM_NUM_CUSTOM",
                  "short& kmrsim::custom_lanes(kmr_tqm_t&, int)");
    return tqm.*kCustomLanes[k];
}

int lanes_for_instruction(int instr)
{
    kmr_tqm_t &tqm = kmrsim::sim().tqm;
    if (instr >= VMOV && instr < VCUSTOM0)
        return tqm.vector_lanes;
    if (instr >= VCUSTOM0 && instr <= VCUSTOM15)
        return tqm.*kCustomLanes[instr - VCUSTOM0];
    return -1;
}
