// Named regions: each begin takes a copy of the statistics record, each end
// adds the difference to the region's path. Nothing is done per
// instruction; the text table of the regions is printed from here.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "profile.hpp"

namespace kmrsim {

void wide_stats::add_difference(const kmrsim_stats_t &now, const kmrsim_stats_t &then)
{
    auto diff = [](uint32_t a, uint32_t b) { return static_cast<uint64_t>(static_cast<uint32_t>(a - b)); };
    for (int op = 0; op < KMRSIM_NUM_OPCODES; ++op) {
        instruction_count[op] += diff(now.instruction_count[op], then.instruction_count[op]);
        for (int k = 0; k < KMRSIM_NUM_CONFIGS; ++k)
            cycle_count[op][k] += diff(now.cycle_count[op][k], then.cycle_count[op][k]);
    }
    set_vl_count += diff(now.set_vl_count, then.set_vl_count);
    set_2D_count += diff(now.set_2D_count, then.set_2D_count);
    set_3D_count += diff(now.set_3D_count, then.set_3D_count);
    dma_bytes += diff(now.dma_bytes, then.dma_bytes);
    dma_calls += diff(now.dma_calls, then.dma_calls);
    for (int k = 0; k < KMRSIM_NUM_CONFIGS; ++k)
        dma_cycles[k] += diff(now.dma_cycles[k], then.dma_cycles[k]);
}

uint64_t wide_stats::compute_cycles(int k) const
{
    uint64_t sum = 0;
    for (int op = 0; op < KMRSIM_NUM_OPCODES; ++op)
        sum += cycle_count[op][k];
    return sum;
}

wide_stats whole_run()
{
    wide_stats w;
    w.add_difference(sim().stats, kmrsim_stats_t{});
    return w;
}

namespace {

struct region_total {
    std::string path, name, parent;
    int depth;
    uint64_t entries = 0;
    wide_stats stats;
};

struct open_region {
    size_t total;             // index in totals
    kmrsim_stats_t at_begin;  // the record when it was opened (or reset)
};

// Totals in the order the paths were first entered, so a parent comes
// before its children.
std::vector<region_total> totals;
std::unordered_map<std::string, size_t> total_index;
std::vector<open_region> open_stack;

size_t find_or_add(const std::string &path, const std::string &name, const std::string &parent, int depth)
{
    auto it = total_index.find(path);
    if (it != total_index.end())
        return it->second;
    totals.push_back({path, name, parent, depth, 0, wide_stats{}});
    total_index.emplace(path, totals.size() - 1);
    return totals.size() - 1;
}

}  // namespace

std::vector<region_view> region_views()
{
    std::vector<region_view> views;
    views.reserve(totals.size());
    for (const region_total &t : totals)
        views.push_back({t.path, t.name, t.parent, t.depth, t.entries, false, t.stats});
    for (const open_region &o : open_stack) {
        views[o.total].open = true;
        views[o.total].stats.add_difference(sim().stats, o.at_begin);
    }
    return views;
}

// The regions that are open stay open and count from here; their paths
// are listed again, in the order they were opened.
void reset_regions()
{
    std::vector<region_total> open_totals;
    for (const open_region &o : open_stack)
        open_totals.push_back(totals[o.total]);
    totals.clear();
    total_index.clear();
    for (size_t i = 0; i < open_stack.size(); ++i) {
        const region_total &t = open_totals[i];
        open_stack[i].total = find_or_add(t.path, t.name, t.parent, t.depth);
        open_stack[i].at_begin = kmrsim_stats_t{};
    }
}

}  // namespace kmrsim

using namespace kmrsim;

extern "C" void kmrsim_region_begin(const char *name)
{
    if (name == nullptr || name[0] == '\0') {
        std::fprintf(stderr, "Error: kmrsim_region_begin: a region needs a name; opened as \"(unnamed)\"\n");
        name = "(unnamed)";
    }
    const std::string parent = open_stack.empty() ? std::string() : totals[open_stack.back().total].path;
    const std::string path = parent.empty() ? std::string(name) : parent + "/" + name;
    const size_t t = find_or_add(path, name, parent, static_cast<int>(open_stack.size()));
    open_stack.push_back({t, sim().stats});
}

extern "C" void kmrsim_region_end(void)
{
    if (open_stack.empty()) {
        std::fprintf(stderr, "Error: kmrsim_region_end: no region is open; nothing closed\n");
        return;
    }
    const open_region o = open_stack.back();
    open_stack.pop_back();
    region_total &t = totals[o.total];
    t.stats.add_difference(sim().stats, o.at_begin);
    t.entries += 1;
}

namespace {

void print_rule(FILE *out, size_t name_width)
{
    std::fprintf(out, "%s", std::string(name_width, '-').c_str());
    std::fputs("-+---------+--------------+--------------+", out);
    for (int k = 0; k < KMRSIM_NUM_CONFIGS; ++k)
        std::fputs("------------+", out);
    std::fputs("\n", out);
}

void print_head(FILE *out, size_t name_width, const char *columns_label)
{
    std::fprintf(out, "%-*s | %7s | %12s | %12s |", static_cast<int>(name_width), "Region", "Entries", "Instructions",
                 "DMA bytes");
    for (int k = 0; k < KMRSIM_NUM_CONFIGS; ++k)
        std::fprintf(out, " %10u |", 1u << k);
    std::fprintf(out, "  <- %s\n", columns_label);
    print_rule(out, name_width);
}

void print_row(FILE *out, size_t name_width, const region_view &r, const uint64_t (&cells)[KMRSIM_NUM_CONFIGS])
{
    uint64_t instructions = 0;
    for (int op = 0; op < KMRSIM_NUM_OPCODES; ++op)
        instructions += r.stats.instruction_count[op];
    std::string label = std::string(2 * static_cast<size_t>(r.depth), ' ') + r.path;
    // A name is the program's text: control characters would break the row.
    for (char &c : label)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    std::fprintf(out, "%-*s | %7" PRIu64 " | %12" PRIu64 " | %12" PRIu64 " |", static_cast<int>(name_width),
                 label.c_str(), r.entries, instructions, r.stats.dma_bytes);
    for (uint64_t c : cells)
        std::fprintf(out, " %10" PRIu64 " |", c);
    std::fputs(r.open ? " (open)\n" : "\n", out);
}

}  // namespace

extern "C" void kmrsim_print_regions(FILE *out)
{
    if (out == nullptr)
        out = stdout;
    const std::vector<region_view> views = region_views();
    std::fputs("REGIONS (inclusive: a region counts the regions inside it)\n", out);
    if (views.empty()) {
        std::fputs("no regions\n", out);
        return;
    }
    size_t name_width = std::strlen("Region");
    for (const region_view &r : views)
        name_width = std::max(name_width, 2 * static_cast<size_t>(r.depth) + r.path.size());

    std::fputs("\nCompute cycles on 1 to 256 lanes:\n", out);
    print_head(out, name_width, "lanes");
    for (const region_view &r : views) {
        uint64_t cells[KMRSIM_NUM_CONFIGS];
        for (int k = 0; k < KMRSIM_NUM_CONFIGS; ++k)
            cells[k] = r.stats.compute_cycles(k);
        print_row(out, name_width, r, cells);
    }
    std::fputs("\nDMA cycles on bus widths of 1 to 256 bytes:\n", out);
    print_head(out, name_width, "bus bytes");
    for (const region_view &r : views) {
        uint64_t cells[KMRSIM_NUM_CONFIGS];
        for (int k = 0; k < KMRSIM_NUM_CONFIGS; ++k)
            cells[k] = r.stats.dma_cycles[k];
        print_row(out, name_width, r, cells);
    }
}
