// Shared helpers of the engine tests: a freshly initialised simulator per
// test, typed access to scratchpad elements and their flags, snapshots of
// the memories, and a reference model of the four-deep write-back pipeline.
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

// Copies of the scratchpad, the flag memory and the mask memory.
struct image {
    std::vector<uint8_t> mem;
    std::vector<uint8_t> flags;
    std::vector<uint8_t> mask;
    bool operator==(const image &) const = default;
};

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

// First differing byte of two images, for failure messages.
inline std::string first_difference(const image &x, const image &y)
{
    auto diff = [](const char *what, const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) -> std::string {
        for (size_t i = 0; i < a.size() && i < b.size(); ++i)
            if (a[i] != b[i])
                return std::string(what) + " byte " + std::to_string(i) + ": " + std::to_string(a[i]) + " vs " +
                       std::to_string(b[i]);
        return {};
    };
    std::string d = diff("scratchpad", x.mem, y.mem);
    if (d.empty())
        d = diff("flag memory", x.flags, y.flags);
    if (d.empty())
        d = diff("mask memory", x.mask, y.mask);
    return d;
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

// ---------------------------------------------------------------------------
// Reference model of the write-back pipeline.
//
// The rows of one instruction are cut into lane groups of G elements,
// numbered across rows. Lane group j reads its operands from memory as it
// stands after the results of lane groups 0 .. j-4 have been stored; results
// are stored in lane-group order, the last ones when the instruction ends.
// The model works on an image (scratchpad and flag memory at the same
// offsets) and leaves the element arithmetic to the test.
namespace ref {

template <typename S>
struct result {
    S value;
    S flag;
    bool write;
};

// Element operation: (a, a_flag, b, b_flag) -> result.
template <typename S>
using op_fn = std::function<result<S>(S, S, S, S)>;

// One row's operands as byte offsets in the image. A negative offset marks
// a non-vector operand: a scalar for A, the enumeration for B.
struct row {
    int64_t dest;
    int64_t a;
    int64_t b;
};

template <typename T>
T load(const std::vector<uint8_t> &m, int64_t off)
{
    T v;
    std::memcpy(&v, m.data() + off, sizeof v);
    return v;
}
template <typename T>
void store(std::vector<uint8_t> &m, int64_t off, T v)
{
    std::memcpy(m.data() + off, &v, sizeof v);
}

// D destination, S computation and Src vector-source element types; the
// narrowing to D keeps the low bits (the opcodes modelled here all do).
template <typename D, typename S, typename Src>
void run(image &im, const std::vector<row> &rows, int L, int G, int32_t scalar, const op_fn<S> &op)
{
    struct write {
        int64_t off;
        D value;
        D flag;
    };
    struct group {
        row r;
        int offset;
        int valid;
    };
    std::vector<group> groups;
    for (const row &r : rows)
        for (int off = 0; off < L; off += G)
            groups.push_back({r, off, std::min(G, L - off)});

    auto read = [&](int64_t base, int idx, S &v, S &f) {
        const int64_t p = base + int64_t(idx) * int64_t(sizeof(Src));
        v = static_cast<S>(load<Src>(im.mem, p));
        f = load<Src>(im.flags, p) != 0 ? S(1) : S(0);
    };
    std::vector<std::vector<write>> pending(groups.size());
    auto land = [&](size_t k) {
        for (const write &w : pending[k]) {
            store<D>(im.mem, w.off, w.value);
            store<D>(im.flags, w.off, w.flag);
        }
    };
    for (size_t j = 0; j < groups.size(); ++j) {
        if (j >= 4)
            land(j - 4);
        const group &g = groups[j];
        for (int i = 0; i < g.valid; ++i) {
            const int idx = g.offset + i;
            S a, af, b, bf;
            if (g.r.a >= 0) {
                read(g.r.a, idx, a, af);
            } else {
                a = static_cast<S>(scalar);
                af = 0;
            }
            if (g.r.b >= 0) {
                read(g.r.b, idx, b, bf);
            } else {
                b = static_cast<S>(idx);
                bf = 0;
            }
            const result<S> res = op(a, af, b, bf);
            if (res.write)
                pending[j].push_back({g.r.dest + int64_t(idx) * int64_t(sizeof(D)), static_cast<D>(res.value),
                                      static_cast<D>(res.flag)});
        }
    }
    for (size_t k = groups.size() >= 4 ? groups.size() - 4 : 0; k < groups.size(); ++k)
        land(k);
}

// Independent element semantics of the opcodes the reference runs use.
template <typename S>
bool top_bit(S v)
{
    using U = std::make_unsigned_t<S>;
    return (static_cast<U>(v) >> (sizeof(S) * 8 - 1)) != 0;
}
template <typename S>
S wrap_sum(S a, S b)
{
    using U = std::make_unsigned_t<S>;
    return static_cast<S>(static_cast<U>(static_cast<U>(a) + static_cast<U>(b)));
}
template <typename S>
result<S> add(S a, S b)
{
    const S r = wrap_sum(a, b);
    bool f;
    if constexpr (std::is_signed_v<S>)
        f = top_bit(a) == top_bit(b) && top_bit(r) != top_bit(a);
    else
        f = r < a;
    return {r, S(f), true};
}
template <typename S>
op_fn<S> vmov()
{
    return [](S a, S af, S, S) { return result<S>{a, af, true}; };
}
template <typename S>
op_fn<S> vadd()
{
    return [](S a, S, S b, S) { return add(a, b); };
}
template <typename S>
op_fn<S> vaddc()
{
    return [](S a, S, S, S bf) { return add(a, bf); };
}
template <typename S>
op_fn<S> vcmv_z()
{
    return [](S a, S af, S b, S) { return result<S>{a, af, b == 0}; };
}

}  // namespace ref
}  // namespace simtest
