// Shared helpers of the engine tests: a freshly initialised simulator per
// test, typed access to scratchpad elements and their flags, snapshots of
// the memories; the images and the reference model of the write-back
// pipeline are in pipeline_model.hpp.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "engine.hpp"
#include "kmr_api.h"
#include "pipeline_model.hpp"

namespace simtest {

inline kmr_sim_t &state()
{
    return *get_the_kmrsim();
}

// Scratchpad address of byte offset `off`.
inline uint8_t *sp(size_t off = 0)
{
    return static_cast<uint8_t *>(state().tqm.scratchpad_addr) + off;
}
inline size_t sp_offset(const void *p)
{
    return size_t(static_cast<const uint8_t *>(p) - sp());
}

// Element i of type T starting at p, and its flag (same width, flag memory).
template <typename T>
T get(const void *p, size_t i = 0)
{
    T v;
    std::memcpy(&v, static_cast<const uint8_t *>(p) + i * sizeof(T), sizeof v);
    return v;
}
template <typename T>
void put(void *p, size_t i, T v)
{
    std::memcpy(static_cast<uint8_t *>(p) + i * sizeof(T), &v, sizeof v);
}
template <typename T>
T flag(void *p, size_t i = 0)
{
    return get<T>(get_flg_addr(static_cast<uint8_t *>(p) + i * sizeof(T)));
}
template <typename T>
void put_flag(void *p, size_t i, T v)
{
    put<T>(get_flg_addr(static_cast<uint8_t *>(p) + i * sizeof(T)), 0, v);
}

inline void set_vl(uint32_t n)
{
    KMR_SET_VL(1, n, n);
}
inline void set_2d(uint32_t rows, int32_t d2, int32_t a2, int32_t b2)
{
    KMR_SET_VL(3, rows, static_cast<uint32_t>(d2));
    KMR_SET_VL(4, static_cast<uint32_t>(a2), static_cast<uint32_t>(b2));
}
inline void set_3d(uint32_t mats, int32_t d3, int32_t a3, int32_t b3)
{
    KMR_SET_VL3D(3, mats, static_cast<uint32_t>(d3));
    KMR_SET_VL3D(4, static_cast<uint32_t>(a3), static_cast<uint32_t>(b3));
}

inline size_t mask_bytes()
{
    return state().mask_memory ? 4u * size_t(state().tqm.max_masked_vector_length) : 0;
}

inline image snapshot()
{
    const kmr_sim_t &s = state();
    const size_t n = size_t(s.tqm.scratchpad_size);
    image im;
    im.mem.assign(sp(), sp() + n);
    im.flags.assign(s.flag_memory, s.flag_memory + n);
    if (s.mask_memory)
        im.mask.assign(s.mask_memory, s.mask_memory + mask_bytes());
    return im;
}

inline void restore(const image &im)
{
    kmr_sim_t &s = state();
    std::memcpy(sp(), im.mem.data(), im.mem.size());
    std::memcpy(s.flag_memory, im.flags.data(), im.flags.size());
    if (!im.mask.empty())
        std::memcpy(s.mask_memory, im.mask.data(), im.mask.size());
}

// Runs `instr` twice from the same memories, once on the whole-row path and
// once through the lane-group pipeline, and returns both resulting images.
struct two_runs {
    image whole;
    image pipelined;
};
inline two_runs run_both_paths(const std::function<void()> &instr)
{
    const image start = snapshot();
    two_runs r;
    kmrsim::whole_row_path_enabled = true;
    instr();
    r.whole = snapshot();
    restore(start);
    kmrsim::whole_row_path_enabled = false;
    instr();
    r.pipelined = snapshot();
    kmrsim::whole_row_path_enabled = true;
    return r;
}

// Captures what `f` writes to standard error.
inline std::string stderr_of(const std::function<void()> &f)
{
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

inline bool same_stats(const kmrsim_stats_t &a, const kmrsim_stats_t &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A simulator with 4 lanes, a 64 KB scratchpad and a mask depth of 256,
// fresh statistics, and the whole-row path switched on.
class SimTest : public testing::Test {
protected:
    void SetUp() override { reinit(); }
    void TearDown() override { kmrsim::whole_row_path_enabled = true; }

    static void reinit(int lanes = 4, int kb = 64, int mask_depth = 256)
    {
        kmrsim_init(lanes, kb, mask_depth, 6, 5, 4);
        kmrsim_reset_stats();
        kmrsim::whole_row_path_enabled = true;
    }
    static const kmrsim_stats_t &stats() { return state().stats; }
};

// The same, run once with each path (the parameter is the whole-row switch).
class BothPaths : public SimTest, public testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        kmrsim::whole_row_path_enabled = GetParam();
    }
};

inline std::string path_name(const testing::TestParamInfo<bool> &info)
{
    return info.param ? "WholeRow" : "Pipelined";
}

}  // namespace simtest
