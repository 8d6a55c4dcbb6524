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

}  // namespace kmrsim
