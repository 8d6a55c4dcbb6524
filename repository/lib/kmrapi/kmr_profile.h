/* Profiling: the statistics record as JSON, named regions with statistics
 * of their own, a per-call-site profile in the callgrind format, and the
 * combined compute and DMA estimate for one lane count and bus width.
 *
 * Everything here is off until called: regions cost two copies of the
 * statistics record per begin/end pair and nothing per instruction; the
 * call-site profile costs nothing until kmrsim_profile_call_sites(1).
 * docs/profiling.md describes the formats. Compiles as C11 and as C++17. */
#ifndef KMR_PROFILE_H
#define KMR_PROFILE_H

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The version of the JSON document kmrsim_write_stats_json writes (its
 * "format_version" member). Raised when a member changes meaning or goes
 * away; new members may appear without a raise. */
#define KMRSIM_STATS_JSON_VERSION 1

/* The index k (0 to 8) of a lane count or DMA bus width 2^k in 1 to 256,
 * as in cycle_count[op][k] and dma_cycles[k]; -1 for any other value. */
int kmrsim_config_index(int lanes_or_bus_bytes);

/* Writes the statistics record, every opcode included, and the regions to
 * out as one JSON document. 0 on success; -1 (with an "Error: " line on
 * standard error) when out is null or the write fails. */
int kmrsim_write_stats_json(FILE *out);

/* Regions. kmrsim_region_begin opens a region inside the innermost open
 * one; its path is the parent's path, "/", then name ("kernel/block").
 * kmrsim_region_end closes the innermost open region and adds to its path
 * what the statistics record gained since its begin (inclusive of the
 * regions inside it). Entering the same path again adds up. Begin copies
 * the name. An end with no region open is refused with an "Error: " line.
 * kmrsim_reset_stats clears the regions' totals too; open regions stay
 * open and count from the reset. */
void kmrsim_region_begin(const char *name);
void kmrsim_region_end(void);

/* The regions as a text table on out (stdout when null): per path the
 * number of entries, instructions, DMA bytes, cycles on 1 to 256 lanes,
 * then DMA cycles on bus widths of 1 to 256 bytes. Open regions are shown
 * with what they counted so far and marked "(open)". */
void kmrsim_print_regions(FILE *out);

/* The call-site profile: while on, each instruction is added to its call
 * site (the return address of the entry point, i.e. the program's call or
 * the inlined typed call): instructions, elements (vector length x rows x
 * matrices, the positions the cycle estimate charges) and cycles on 1 to
 * 256 lanes. Switching off keeps what was collected; kmrsim_reset_stats
 * clears it. */
void kmrsim_profile_call_sites(int on);

/* Writes the call-site profile in the callgrind format, with source files
 * and lines from the program's debug information. 0 on success; -1 (with
 * an "Error: " line) when out is null or the write fails. */
int kmrsim_write_callgrind(FILE *out);

/* The model's estimate of the whole run for one lane count and one DMA bus
 * width. The model charges compute and DMA separately and does not say how
 * they overlap, so it bounds the run: at best fully overlapped (the larger
 * of the two), at worst one after the other (their sum). */
typedef struct kmrsim_estimate_t {
    int lanes;                  /* 1, 2, 4, ... 256 */
    int bus_bytes;              /* 1, 2, 4, ... 256 */
    uint64_t compute_cycles;    /* every opcode's cycles on that many lanes */
    uint64_t dma_cycles;        /* DMA cycles on that bus width */
    uint64_t overlapped_cycles; /* lower bound: max(compute, DMA) */
    uint64_t serial_cycles;     /* upper bound: compute + DMA */
} kmrsim_estimate_t;

/* Fills *out for the whole run (region null) or for a region path. 0 on
 * success; -1 with an "Error: " line for a lane count or bus width that is
 * not a power of two in 1 to 256, a null out, or an unknown region. */
int kmrsim_estimate(int lanes, int bus_bytes, kmrsim_estimate_t *out);
int kmrsim_estimate_region(const char *region, int lanes, int bus_bytes, kmrsim_estimate_t *out);

/* Prints the estimate of the whole run on out (stdout when null), and
 * which of compute and DMA is the larger. 0, or -1 as kmrsim_estimate. */
int kmrsim_print_estimate(FILE *out, int lanes, int bus_bytes);

#ifdef __cplusplus
}

namespace kmrsim {

/* A region for the lifetime of a scope:
 *     { kmrsim::region r("filter"); ... }   is begin("filter") ... end(). */
class region {
public:
    explicit region(const char *name) { kmrsim_region_begin(name); }
    ~region() { kmrsim_region_end(); }
    region(const region &) = delete;
    region &operator=(const region &) = delete;
};

}  // namespace kmrsim
#endif

#endif /* KMR_PROFILE_H */
