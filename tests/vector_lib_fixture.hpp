// Helpers of the vector-library tests: a fresh simulator per test, element
// and flag access through a vector, and the comparison of a library form
// with the flat form it should issue (same memories, same statistics).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "Vector.hpp"
#include "sim_fixture.hpp"

namespace vlt {

using simtest::image;
using simtest::restore;
using simtest::snapshot;

class LibTest : public simtest::SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        vector_mask_obj::nested = 0;
    }
    void TearDown() override
    {
        vector_mask_obj::nested = 0;
        SimTest::TearDown();
    }
};

template <typename T, int d>
std::vector<long long> values(const KMR::Vector<T, d> &v, size_t n = 0)
{
    kmr_sync();
    return std::vector<long long>(v.data, v.data + (n != 0 ? n : v.size));
}
template <typename T, int d>
std::vector<long long> flags(const KMR::Vector<T, d> &v, size_t n = 0)
{
    kmr_sync();
    const T *f = static_cast<const T *>(get_flg_addr(v.data));
    return std::vector<long long>(f, f + (n != 0 ? n : v.size));
}

// Writes values (and flags) straight into a vector's first elements.
template <typename T, int d>
void fill(const KMR::Vector<T, d> &v, const std::vector<long long> &xs, const std::vector<int> &fl = {})
{
    kmr_sync();
    T *f = static_cast<T *>(get_flg_addr(v.data));
    for (size_t i = 0; i < xs.size(); ++i) {
        v.data[i] = static_cast<T>(xs[i]);
        f[i] = static_cast<T>(i < fl.size() ? fl[i] : 0);
    }
}

// Random elements (the extremes of T first) and random 0/1 flags.
template <typename T, int d>
void randomize(const KMR::Vector<T, d> &v, size_t n, std::mt19937 &rng)
{
    std::vector<long long> xs;
    std::vector<int> fl;
    const long long lo = std::numeric_limits<T>::min(), hi = std::numeric_limits<T>::max();
    std::uniform_int_distribution<long long> any(lo, hi);
    for (size_t i = 0; i < n; ++i) {
        xs.push_back(i == 0 ? lo : i == 1 ? hi : i == 2 ? 0 : i == 3 ? -1 : any(rng));
        fl.push_back(static_cast<int>(rng() & 1));
    }
    fill(v, xs, fl);
}

// Runs `lib` and `flat` from the same memories and statistics; both must
// leave the same scratchpad, flag memory, mask memory and statistics.
template <typename L, typename F>
void expect_same(L lib, F flat)
{
    const image start = snapshot();
    kmrsim_reset_stats();
    lib();
    kmr_sync();
    const image after_lib = snapshot();
    const kmrsim_stats_t stats_lib = kmrsim_get_stats();
    restore(start);
    kmrsim_reset_stats();
    flat();
    kmr_sync();
    const image after_flat = snapshot();
    EXPECT_TRUE(after_lib == after_flat) << simtest::first_difference(after_lib, after_flat);
    EXPECT_TRUE(simtest::same_stats(stats_lib, kmrsim_get_stats()));
}

inline uint32_t total_instructions()
{
    uint32_t n = 0;
    for (uint32_t c : kmrsim_get_stats().instruction_count)
        n += c;
    return n;
}

// The flat entry points of the modes whose source and destination have
// element type T, by form.
template <typename T>
struct flat;
#define VLT_FLAT_(w, sg)                                                                                        \
    template <>                                                                                                 \
    struct flat<KMRSIM_ELEM_##w##sg> {                                                                          \
        using T = KMRSIM_ELEM_##w##sg;                                                                          \
        static void vv(vinstr_t o, T *d, T *a, T *b) { kmr_VV##w##w##sg(o, d, a, b); }                          \
        static void ve(vinstr_t o, T *d, T *a) { kmr_VE##w##w##sg(o, d, a, nullptr); }                          \
        static void sv(vinstr_t o, T *d, int32_t s, T *b) { kmr_SV##w##w##sg(o, d, s, b); }                     \
        static void se(vinstr_t o, T *d, int32_t s) { kmr_SE##w##w##sg(o, d, s, nullptr); }                     \
        static void masked_vv(vinstr_t o, T *d, T *a, T *b) { kmr_masked_1D_VV##w##w##sg(o, d, a, b); }         \
        static void acc_vv(vinstr_t o, T *d, T *a, T *b) { kmr_acc_1D_VV##w##w##sg(o, d, a, b); }               \
        static void acc2_vv(vinstr_t o, T *d, T *a, T *b) { kmr_acc_2D_VV##w##w##sg(o, d, a, b); }              \
        static void acc3_vv(vinstr_t o, T *d, T *a, T *b) { kmr_acc_3D_VV##w##w##sg(o, d, a, b); }              \
        static void masked_acc_vv(vinstr_t o, T *d, T *a, T *b) { kmr_masked_acc_1D_VV##w##w##sg(o, d, a, b); } \
    };
VLT_FLAT_(B, S)
VLT_FLAT_(B, U)
VLT_FLAT_(H, S)
VLT_FLAT_(H, U)
VLT_FLAT_(W, S)
VLT_FLAT_(W, U)
#undef VLT_FLAT_

}  // namespace vlt
