// Shared declarations of the profiling calls (kmr_profile.h): the wide
// statistics record that regions add up, the region list, the call-site
// profile's switch and observation, and the lane/bus index rule.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kmr_profile.h"
#include "kmrsim.hpp"

namespace kmrsim {

// The statistics record with 64-bit counters: region totals add the
// differences of many begin/end pairs, which may pass 2^32 together.
struct wide_stats {
    uint64_t cycle_count[KMRSIM_NUM_OPCODES][KMRSIM_NUM_CONFIGS] = {};
    uint64_t instruction_count[KMRSIM_NUM_OPCODES] = {};
    uint64_t set_vl_count = 0;
    uint64_t set_2D_count = 0;
    uint64_t set_3D_count = 0;
    uint64_t dma_bytes = 0;
    uint64_t dma_calls = 0;
    uint64_t dma_cycles[KMRSIM_NUM_CONFIGS] = {};

    // Adds what the record counted from `then` to `now` (each 32-bit
    // counter wraps, so the difference is taken modulo 2^32).
    void add_difference(const kmrsim_stats_t &now, const kmrsim_stats_t &then);
    // Every opcode's cycles on 2^k lanes.
    uint64_t compute_cycles(int k) const;
};

// The record as it stands, widened.
wide_stats whole_run();

// One region path with what it counted, open instances included.
struct region_view {
    std::string path;
    std::string name;    // as given to kmrsim_region_begin
    std::string parent;  // the enclosing region's path; empty at depth 0
    int depth;           // 0 for a region opened outside every other
    uint64_t entries;    // completed begin/end pairs
    bool open;           // an instance is open now
    wide_stats stats;
};
std::vector<region_view> region_views();

// Clears the regions' totals and the call-site profile (kmrsim_reset_stats).
void reset_regions();
void reset_call_sites();

// Whether the call-site profile is on (an observer switch).
bool call_sites_enabled();
// Adds the current instruction to its call site.
void profile_call_site(int esize);

// kmrsim_config_index, reporting a refused value with an "Error: " line
// naming the caller and what the value was meant to be.
int config_index_or_report(const char *caller, const char *what, int value);

}  // namespace kmrsim
