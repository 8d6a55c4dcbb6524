// The combined estimate for one lane count and one DMA bus width: compute
// and DMA cycles of the model, and the two bounds of their overlap. Also
// the rule that maps a lane count or bus width to its column (2^k, k = 0
// to 8).
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "profile.hpp"

namespace kmrsim {

int config_index_or_report(const char *caller, const char *what, int value)
{
    const int k = kmrsim_config_index(value);
    if (k < 0)
        std::fprintf(stderr, "Error: %s: %d is not a %s the statistics estimate (1, 2, 4, ... 256)\n", caller, value,
                     what);
    return k;
}

}  // namespace kmrsim

using namespace kmrsim;

namespace {

int fill(const char *caller, const wide_stats &st, int lanes, int bus_bytes, kmrsim_estimate_t *out)
{
    const int lk = config_index_or_report(caller, "lane count", lanes);
    const int bk = config_index_or_report(caller, "bus width in bytes", bus_bytes);
    if (lk < 0 || bk < 0)
        return -1;
    kmrsim_estimate_t e{};
    e.lanes = lanes;
    e.bus_bytes = bus_bytes;
    e.compute_cycles = st.compute_cycles(lk);
    e.dma_cycles = st.dma_cycles[bk];
    e.overlapped_cycles = e.compute_cycles > e.dma_cycles ? e.compute_cycles : e.dma_cycles;
    e.serial_cycles = e.compute_cycles + e.dma_cycles;
    *out = e;
    return 0;
}

}  // namespace

extern "C" int kmrsim_config_index(int lanes_or_bus_bytes)
{
    for (int k = 0; k < KMRSIM_NUM_CONFIGS; ++k)
        if (lanes_or_bus_bytes == 1 << k)
            return k;
    return -1;
}

extern "C" int kmrsim_estimate(int lanes, int bus_bytes, kmrsim_estimate_t *out)
{
    if (out == nullptr) {
        std::fprintf(stderr, "Error: kmrsim_estimate: no result record\n");
        return -1;
    }
    return fill("kmrsim_estimate", whole_run(), lanes, bus_bytes, out);
}

extern "C" int kmrsim_estimate_region(const char *region, int lanes, int bus_bytes, kmrsim_estimate_t *out)
{
    if (out == nullptr) {
        std::fprintf(stderr, "Error: kmrsim_estimate_region: no result record\n");
        return -1;
    }
    if (region == nullptr)
        return fill("kmrsim_estimate_region", whole_run(), lanes, bus_bytes, out);
    for (const region_view &r : region_views())
        if (r.path == region)
            return fill("kmrsim_estimate_region", r.stats, lanes, bus_bytes, out);
    std::fprintf(stderr, "Error: kmrsim_estimate_region: no region \"%s\"\n", region);
    return -1;
}

extern "C" int kmrsim_print_estimate(FILE *out, int lanes, int bus_bytes)
{
    kmrsim_estimate_t e;
    if (fill("kmrsim_print_estimate", whole_run(), lanes, bus_bytes, &e) != 0)
        return -1;
    if (out == nullptr)
        out = stdout;
    std::fprintf(out, "ESTIMATE for %d lane%s and a DMA bus of %d byte%s (bounds of the cycle model):\n", lanes,
                 lanes == 1 ? "" : "s", bus_bytes, bus_bytes == 1 ? "" : "s");
    std::fprintf(out, "compute cycles                  = %" PRIu64 "\n", e.compute_cycles);
    std::fprintf(out, "DMA cycles                      = %" PRIu64 "\n", e.dma_cycles);
    std::fprintf(out, "fully overlapped (lower bound)  = %" PRIu64 "\n", e.overlapped_cycles);
    std::fprintf(out, "not overlapped (upper bound)    = %" PRIu64 "\n", e.serial_cycles);
    const char *larger = e.compute_cycles > e.dma_cycles   ? "compute"
                         : e.dma_cycles > e.compute_cycles ? "DMA"
                                                           : "neither (equal)";
    std::fprintf(out, "larger part                     = %s\n", larger);
    return 0;
}
