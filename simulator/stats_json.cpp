// The statistics record and the regions as one JSON document (members in a
// fixed order, for readers who look at it). The layout is
// described in docs/profiling.md; members are added, never renamed, and
// "format_version" (KMRSIM_STATS_JSON_VERSION) is raised when one changes
// meaning.
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "profile.hpp"

namespace {

using json = nlohmann::ordered_json;
using kmrsim::wide_stats;

// The two opcodes that have no row of their own in the text reports (their
// counts and cycles are in the cycle table's Total row only).
bool in_text_reports(int opcode)
{
    return opcode != VSUBFXP && opcode != VADDFXP;
}

json configs()
{
    json a = json::array();
    for (int k = 0; k < KMRSIM_NUM_CONFIGS; ++k)
        a.push_back(1u << k);
    return a;
}

json nine(const uint64_t (&v)[KMRSIM_NUM_CONFIGS])
{
    json a = json::array();
    for (uint64_t x : v)
        a.push_back(x);
    return a;
}

json record(const wide_stats &st)
{
    json opcodes = json::array();
    uint64_t instructions = 0;
    uint64_t cycles[KMRSIM_NUM_CONFIGS] = {};
    for (int op = 0; op < KMRSIM_NUM_OPCODES; ++op) {
        const char *name = kmrsim::opcode_name(op);
        opcodes.push_back({{"opcode", op},
                           {"name", name != nullptr ? name : "OP" + std::to_string(op)},
                           {"in_text_reports", in_text_reports(op)},
                           {"count", st.instruction_count[op]},
                           {"cycles", nine(st.cycle_count[op])}});
        instructions += st.instruction_count[op];
        for (int k = 0; k < KMRSIM_NUM_CONFIGS; ++k)
            cycles[k] += st.cycle_count[op][k];
    }
    return {{"instructions", instructions},
            {"cycles", nine(cycles)},
            {"opcodes", std::move(opcodes)},
            {"vector_length_settings",
             {{"set_vl", st.set_vl_count}, {"set_2D", st.set_2D_count}, {"set_3D", st.set_3D_count}}},
            {"dma", {{"calls", st.dma_calls}, {"bytes", st.dma_bytes}, {"cycles", nine(st.dma_cycles)}}}};
}

}  // namespace

extern "C" int kmrsim_write_stats_json(FILE *out)
{
    if (out == nullptr) {
        std::fprintf(stderr, "Error: kmrsim_write_stats_json: no output file; nothing written\n");
        return -1;
    }
    json regions = json::array();
    for (const kmrsim::region_view &r : kmrsim::region_views()) {
        regions.push_back({{"path", r.path},
                           {"name", r.name},
                           {"parent", r.depth > 0 ? json(r.parent) : json(nullptr)},
                           {"depth", r.depth},
                           {"entries", r.entries},
                           {"open", r.open},
                           {"stats", record(r.stats)}});
    }
    const json doc = {{"format_version", KMRSIM_STATS_JSON_VERSION},
                      {"generator", "kmrsim"},
                      {"lanes", configs()},
                      {"bus_widths", configs()},
                      {"simulated_lanes", kmrsim::sim().tqm.vector_lanes},
                      {"stats", record(kmrsim::whole_run())},
                      {"regions", std::move(regions)}};
    // Region names are the program's bytes: invalid UTF-8 is replaced
    // rather than written into the document.
    const std::string text = doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
    if (std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::fflush(out) != 0) {
        std::fprintf(stderr, "Error: kmrsim_write_stats_json: the statistics could not be written\n");
        return -1;
    }
    return 0;
}
