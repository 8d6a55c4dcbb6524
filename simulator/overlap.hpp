// How operand ranges of one instruction meet, and what follows for its
// execution: when rows may be computed whole rather than through the
// lane-group pipeline.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace kmrsim {

// Byte span covered by an operand over all rows of an instruction.
struct span {
    uintptr_t lo = 0;
    uintptr_t hi = 0;
};

// Computes the span of rows starting at base + m * s3 + r * s2; false when
// the row offsets would wrap their 32-bit products (then no span is claimed).
inline bool operand_span(uintptr_t base, int32_t s2, int32_t s3, int32_t rows, int32_t mats, int64_t row_bytes,
                         span &out)
{
    const int64_t r2 = int64_t(rows - 1) * s2;
    const int64_t r3 = int64_t(mats - 1) * s3;
    if (r2 < INT32_MIN || r2 > INT32_MAX || r3 < INT32_MIN || r3 > INT32_MAX)
        return false;
    const int64_t lo = std::min<int64_t>(0, r2) + std::min<int64_t>(0, r3);
    const int64_t hi = std::max<int64_t>(0, r2) + std::max<int64_t>(0, r3) + std::max<int64_t>(row_bytes, 0);
    out.lo = base + static_cast<uintptr_t>(lo);
    out.hi = base + static_cast<uintptr_t>(hi);
    return true;
}

inline bool spans_overlap(const span &x, const span &y)
{
    return x.lo < x.hi && y.lo < y.hi && x.lo < y.hi && y.lo < x.hi;
}

// How the whole-row path may read a source of a one-row instruction whose
// range meets the destination's. Lane group j reads memory as it is after the
// write-backs of groups 0 .. j-4. With equal element sizes and the source d
// elements behind the destination, element k reads what element k - d writes,
// in group floor(k/G) - floor((k-d)/G), which is ceil(d/G) or floor(d/G)
// groups earlier:
//   - d <= 0: the write comes at or after the read: the old value is seen;
//   - ceil(d/G) <= 3: never visible: the old value is seen (read a copy);
//   - floor(d/G) >= 4: always visible: the new value is seen (compute in
//     chunks of at most d elements, so each chunk reads finished results);
//   - otherwise it depends on the element: only the pipeline can tell.
enum class source_access {
    live,
    copy,
    pipeline
};

struct row_plan {
    bool direct = false;  // compute rows whole
    source_access a = source_access::live;
    source_access b = source_access::live;
    source_access mask = source_access::live;
    size_t chunk_limit = SIZE_MAX;  // most elements per chunk
    // Custom instructions: the operands of many lane groups may be loaded at
    // once (no source, mask or destination element can be written by the
    // instruction before its lane group reads it), as long as no lane group
    // is redirected into `reads`, the bytes all operands cover.
    bool batch_custom = false;
    span reads;
};

inline source_access classify_source(uintptr_t src, size_t src_size, uintptr_t dest, size_t dest_size, int64_t L, int G,
                                     size_t &chunk_limit)
{
    const span ss{src, src + uintptr_t(L * int64_t(src_size))};
    const span ds{dest, dest + uintptr_t(L * int64_t(dest_size))};
    if (!spans_overlap(ss, ds))
        return source_access::live;
    if (src_size != dest_size)
        return source_access::pipeline;
    const intptr_t diff = static_cast<intptr_t>(src - dest);
    if (diff % static_cast<intptr_t>(src_size) != 0)
        return source_access::pipeline;
    const int64_t delta = diff / static_cast<intptr_t>(src_size);
    if (delta >= 0)
        return source_access::live;
    const int64_t d = -delta;
    if ((d + G - 1) / G <= 3)
        return source_access::copy;
    if (d / G >= 4) {
        chunk_limit = std::min(chunk_limit, static_cast<size_t>(d));
        return source_access::live;
    }
    return source_access::pipeline;
}

// How the whole-row path may read a source of a two-dimensional instruction
// (R rows, strides s2 and d2 in bytes) whose range meets the destination's,
// when the destination rows do not overlap one another. The whole-row path
// finishes each row before the next one reads anything, so a source element
// in row r sees every write of rows r' < r and none of rows r' > r; the
// pipeline agrees when
//   - rows r' > r: always (their writes come later);
//   - rows r' < r: every element pair is at least pipeline_depth lane groups
//     apart, counted over the row sequence (gpr lane groups per row):
//     (r - r') * gpr + floor(k/G) - floor(k'/G) >= 4, with a lower bound of
//     floor(k/G) - floor((k + delta)/G) taken over all k;
//   - the same row: the relation of classify_source, the same in every row
//     (equal strides), or no same-row overlap at all.
// Element sizes must agree and every overlap must be element for element;
// anything else is left to the pipeline.
inline source_access classify_rows(uintptr_t src, int32_t s2, size_t src_size, uintptr_t dest, int32_t d2,
                                   size_t dest_size, int64_t L, int32_t R, int G, size_t &chunk_limit)
{
    if (src_size != dest_size || L <= 0 || d2 == 0)
        return source_access::pipeline;
    const int64_t es = int64_t(src_size);
    const int64_t row_bytes = L * es;
    const int64_t gpr = (L + G - 1) / G;
    if (int64_t(d2) % es != 0 || int64_t(s2) % es != 0 || static_cast<int64_t>(src - dest) % es != 0)
        return source_access::pipeline;
    source_access same_row = source_access::live;
    size_t same_row_limit = SIZE_MAX;
    if (s2 == d2)
        same_row = classify_source(src, src_size, dest, dest_size, L, G, same_row_limit);
    for (int32_t r = 0; r < R; ++r) {
        // Byte offset of source row r from destination row 0.
        const int64_t off = static_cast<int64_t>(src - dest) + int64_t(r) * s2;
        // Destination rows r' with r' * d2 in (off - row_bytes, off + row_bytes).
        int64_t lo, hi;
        if (d2 > 0) {
            lo = (off - row_bytes) / d2 + 1 - ((off - row_bytes) % d2 < 0 ? 1 : 0);
            hi = (off + row_bytes - 1) / d2 - ((off + row_bytes - 1) % d2 < 0 ? 1 : 0);
        } else {
            const int64_t p = -int64_t(d2);
            lo = (-off - row_bytes) / p + 1 - ((-off - row_bytes) % p < 0 ? 1 : 0);
            hi = (-off + row_bytes - 1) / p - ((-off + row_bytes - 1) % p < 0 ? 1 : 0);
        }
        lo = std::max<int64_t>(lo, 0);
        hi = std::min<int64_t>(hi, r);  // rows written after row r reads: the old value in both
        for (int64_t w = lo; w <= hi; ++w) {
            const int64_t delta = (off - w * d2) / es;  // source element k is destination element k + delta of row w
            if (delta <= -L || delta >= L)
                continue;  // no element in common
            if (w == r) {
                if (s2 != d2 || same_row == source_access::pipeline)
                    return source_access::pipeline;
                continue;
            }
            const int64_t bound = delta >= 0 ? -(delta / G) - (delta % G != 0 ? 1 : 0) : (-delta) / G;
            if ((int64_t(r) - w) * gpr + bound < 4)
                return source_access::pipeline;
        }
    }
    chunk_limit = std::min(chunk_limit, same_row_limit);
    return same_row;
}

}  // namespace kmrsim
