// Images of the simulated memories and a reference model of the four-deep
// write-back pipeline, independent of the simulator's engine. Shared by the
// engine tests and the fuzz targets (which build without GoogleTest).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

namespace simtest {

// Copies of the scratchpad, the flag memory and the mask memory.
struct image {
    std::vector<uint8_t> mem;
    std::vector<uint8_t> flags;
    std::vector<uint8_t> mask;
    bool operator==(const image &) const = default;
};

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
