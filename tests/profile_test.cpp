// The profiling calls: the JSON record against both text reports of the
// same run, regions (nesting, repetition, open regions, reset), the
// call-site profile and its callgrind text, and the combined estimate.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "kmr_api.h"
#include "observers.hpp"

namespace {

using nlohmann::json;

// What a call writes to a FILE *, as text.
template <typename F>
std::string written_by(F &&write)
{
    FILE *f = std::tmpfile();
    EXPECT_NE(f, nullptr);
    write(f);
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    std::fclose(f);
    return text;
}

json stats_json()
{
    std::string text = written_by([](FILE *f) { EXPECT_EQ(kmrsim_write_stats_json(f), 0); });
    return json::parse(text);
}

const json &opcode_entry(const json &record, const std::string &name)
{
    for (const json &op : record["opcodes"])
        if (op["name"] == name)
            return op;
    ADD_FAILURE() << "no opcode " << name;
    static const json none;
    return none;
}

int32_t *word(size_t offset)
{
    return reinterpret_cast<int32_t *>(static_cast<uint8_t *>(get_the_kmrsim()->tqm.scratchpad_addr) + offset);
}

// A workload touching every kind of counter: 1D, 2D and 3D instructions of
// three element sizes, both saturating opcodes that have no report row,
// vector-length settings and DMA in both directions.
void run_workload()
{
    int32_t *a = word(0), *b = word(1024), *c = word(2048);
    static int32_t host[300];
    sim_dma_to_vector(a, host, 1000);
    kmr_set_vl(37);
    kmr_VVWWS(VADD, c, a, b);
    kmr_VVWWS(VADDFXP, c, a, b);
    kmr_VVWWS(VSUBFXP, c, a, b);
    kmr_VVWWS(VSUBFXP, c, a, b);
    kmr_SEHHS(VMOV, reinterpret_cast<int16_t *>(c), 5, nullptr);
    kmr_VVBBU(VXOR, reinterpret_cast<uint8_t *>(c), reinterpret_cast<uint8_t *>(a), reinterpret_cast<uint8_t *>(b));
    kmr_set_vl(9);
    KMR_SET_VL(KMR_SEL_COUNT, 5, 64);
    KMR_SET_VL(KMR_SEL_STRIDES, 64, 64);
    kmr_2D_VVWWS(VMUL, c, a, b);
    KMR_SET_VL3D(KMR_SEL_COUNT, 3, 320);
    KMR_SET_VL3D(KMR_SEL_STRIDES, 320, 320);
    kmr_3D_SVWWS(VSUB, c, 3, a);
    sim_dma_to_host(host, c, 333);
    kmr_sync();
}

class Profile : public ::testing::Test {
protected:
    void SetUp() override
    {
        kmrsim_init(4, 64, 256, 6, 5, 4);
        kmrsim_profile_call_sites(0);
        kmrsim_reset_stats();
    }
    void TearDown() override
    {
        kmrsim_profile_call_sites(0);
        kmrsim_reset_stats();
    }
};

// Rows "LABEL =  v" and "LABEL =  v1 | v2 | ..." of a text report, by
// section ("INSTRUCTION COUNT:", "CYCLE COUNT:", ...).
std::map<std::string, std::map<std::string, std::vector<uint64_t>>> parse_report(const std::string &text)
{
    std::map<std::string, std::map<std::string, std::vector<uint64_t>>> sections;
    std::istringstream in(text);
    std::string line, section, pending_label;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == ':' && line.find('=') == std::string::npos) {
            section = line;
            pending_label = line;  // "DMA CALLS:" and "DMA BYTES:" put the value on the next line
            continue;
        }
        const size_t eq = line.find(" =  ");
        if (eq != std::string::npos) {
            std::string label = line.substr(0, eq);
            label.erase(label.find_last_not_of(' ') + 1);
            std::vector<uint64_t> values;
            std::istringstream cells(line.substr(eq + 4));
            std::string cell;
            while (std::getline(cells, cell, '|'))
                if (cell.find_first_not_of(' ') != std::string::npos)
                    values.push_back(std::stoull(cell));
            sections[section][label] = values;
        } else if (!pending_label.empty() && !line.empty() &&
                   line.find_first_not_of("0123456789") == std::string::npos) {
            sections[pending_label]["value"] = {std::stoull(line)};
        } else if (section == "DMA CYCLES:" && line.find('|') != std::string::npos && line[0] == ' ' &&
                   line.find('-') == std::string::npos) {
            std::vector<uint64_t> values;
            std::istringstream cells(line);
            std::string cell;
            while (std::getline(cells, cell, '|'))
                if (cell.find_first_not_of(' ') != std::string::npos)
                    values.push_back(std::stoull(cell));
            sections[section]["cycles"] = values;
        }
        if (line.empty())
            pending_label.clear();
    }
    return sections;
}

std::vector<uint64_t> as_vector(const json &a)
{
    return a.get<std::vector<uint64_t>>();
}

TEST_F(Profile, JsonAgreesWithBothTextReports)
{
    run_workload();
    ::testing::internal::CaptureStdout();
    kmrsim_print_stats_extended();
    const std::string extended = ::testing::internal::GetCapturedStdout();
    ::testing::internal::CaptureStdout();
    kmrsim_print_stats();
    const std::string short_report = ::testing::internal::GetCapturedStdout();
    const json doc = stats_json();

    EXPECT_EQ(doc["format_version"], KMRSIM_STATS_JSON_VERSION);
    EXPECT_EQ(as_vector(doc["lanes"]), (std::vector<uint64_t>{1, 2, 4, 8, 16, 32, 64, 128, 256}));
    EXPECT_EQ(doc["bus_widths"], doc["lanes"]);
    const json &st = doc["stats"];
    ASSERT_EQ(st["opcodes"].size(), size_t(KMRSIM_NUM_OPCODES));

    const auto ext = parse_report(extended);
    const auto shrt = parse_report(short_report);
    const auto &cycles = ext.at("CYCLE COUNT:");
    const auto &counts = ext.at("INSTRUCTION COUNT:");
    EXPECT_EQ(shrt.at("INSTRUCTION COUNT:"), counts);

    uint64_t reported_total = 0;
    for (const json &op : st["opcodes"]) {
        const std::string name = op["name"];
        EXPECT_EQ(op["name"], kmrsim_opcode_name(op["opcode"]));
        if (op["in_text_reports"]) {
            EXPECT_EQ(counts.at(name), (std::vector<uint64_t>{op["count"]})) << name;
            EXPECT_EQ(cycles.at(name), as_vector(op["cycles"])) << name;
            reported_total += op["count"].get<uint64_t>();
        } else {
            EXPECT_EQ(counts.count(name), 0u) << name;
            EXPECT_EQ(cycles.count(name), 0u) << name;
        }
    }
    // The two opcodes without a row are in the record, and in the Total row.
    EXPECT_EQ(opcode_entry(st, "VADDFXP")["count"], 1);
    EXPECT_EQ(opcode_entry(st, "VSUBFXP")["count"], 2);
    EXPECT_EQ(as_vector(opcode_entry(st, "VSUBFXP")["cycles"]), (std::vector<uint64_t>{74, 38, 20, 10, 6, 4, 2, 2, 2}));
    EXPECT_EQ(counts.at("TOTAL"), (std::vector<uint64_t>{reported_total}));
    EXPECT_EQ(st["instructions"], reported_total + 3);
    EXPECT_EQ(cycles.at("Total"), as_vector(st["cycles"]));

    for (const auto *report : {&ext, &shrt}) {
        EXPECT_EQ(report->at("DMA CALLS:").at("value"), (std::vector<uint64_t>{st["dma"]["calls"]}));
        EXPECT_EQ(report->at("DMA BYTES:").at("value"), (std::vector<uint64_t>{st["dma"]["bytes"]}));
    }
    EXPECT_EQ(st["dma"]["calls"], 2);
    EXPECT_EQ(st["dma"]["bytes"], 1333);
    EXPECT_EQ(ext.at("DMA CYCLES:").at("cycles"), as_vector(st["dma"]["cycles"]));
    const json &vl = st["vector_length_settings"];
    EXPECT_EQ(counts.at("set_vl"), (std::vector<uint64_t>{vl["set_vl"]}));
    EXPECT_EQ(counts.at("set_2D"), (std::vector<uint64_t>{vl["set_2D"]}));
    EXPECT_EQ(counts.at("set_3D"), (std::vector<uint64_t>{vl["set_3D"]}));
    EXPECT_EQ(vl["set_vl"], 2);
    EXPECT_EQ(vl["set_2D"], 1);
    EXPECT_EQ(vl["set_3D"], 1);
}

TEST_F(Profile, JsonOutputFailuresAreReported)
{
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(kmrsim_write_stats_json(nullptr), -1);
    EXPECT_EQ(kmrsim_write_callgrind(nullptr), -1);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Error: kmrsim_write_stats_json: no output file"), std::string::npos) << err;
    EXPECT_NE(err.find("Error: kmrsim_write_callgrind: no output file"), std::string::npos) << err;

    // A device that refuses every write: the failure is not reported as success.
    if (FILE *full = std::fopen("/dev/full", "w")) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(kmrsim_write_stats_json(full), -1);
        EXPECT_EQ(kmrsim_write_callgrind(full), -1);
        const std::string full_err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(full_err.find("Error: kmrsim_write_stats_json: the statistics could not be written"),
                  std::string::npos);
        std::fclose(full);
    }
}

TEST_F(Profile, RegionsAreInclusiveNestedAndAddUp)
{
    int32_t *a = word(0), *c = word(1024);
    kmr_set_vl(16);
    kmrsim_region_begin("outer");
    kmr_VVWWS(VADD, c, a, a);
    for (int i = 0; i < 3; ++i) {
        kmrsim::region inner("inner");  // the guard ends it at the end of each pass
        kmr_VVWWS(VMUL, c, a, a);
        kmr_VVWWS(VMUL, c, a, a);
    }
    kmrsim_region_end();
    kmrsim_region_begin("inner");  // a region of the same name at the top: another path
    static int32_t host[16];
    sim_dma_to_vector(a, host, 64);
    kmr_sync();
    kmrsim_region_end();

    const json doc = stats_json();
    const json &regions = doc["regions"];
    ASSERT_EQ(regions.size(), 3u);
    EXPECT_EQ(regions[0]["path"], "outer");
    EXPECT_EQ(regions[0]["parent"], nullptr);
    EXPECT_EQ(regions[0]["depth"], 0);
    EXPECT_EQ(regions[1]["path"], "outer/inner");
    EXPECT_EQ(regions[1]["name"], "inner");
    EXPECT_EQ(regions[1]["parent"], "outer");
    EXPECT_EQ(regions[1]["depth"], 1);
    EXPECT_EQ(regions[2]["path"], "inner");

    EXPECT_EQ(regions[0]["entries"], 1);
    EXPECT_EQ(regions[1]["entries"], 3);
    EXPECT_EQ(regions[0]["stats"]["instructions"], 7);  // its own VADD and the inner VMULs
    EXPECT_EQ(regions[1]["stats"]["instructions"], 6);
    EXPECT_EQ(opcode_entry(regions[1]["stats"], "VMUL")["count"], 6);
    EXPECT_EQ(opcode_entry(regions[1]["stats"], "VADD")["count"], 0);
    EXPECT_EQ(as_vector(regions[1]["stats"]["cycles"]), (std::vector<uint64_t>{96, 48, 24, 12, 6, 6, 6, 6, 6}));
    EXPECT_EQ(as_vector(regions[0]["stats"]["cycles"]), (std::vector<uint64_t>{112, 56, 28, 14, 7, 7, 7, 7, 7}));
    EXPECT_EQ(regions[2]["stats"]["instructions"], 0);
    EXPECT_EQ(regions[2]["stats"]["dma"]["bytes"], 64);
    EXPECT_EQ(regions[0]["stats"]["dma"]["bytes"], 0);
    // Regions that cover the whole run add up to it.
    const json &run = doc["stats"];
    for (size_t k = 0; k < KMRSIM_NUM_CONFIGS; ++k) {
        EXPECT_EQ(run["cycles"][k],
                  regions[0]["stats"]["cycles"][k].get<uint64_t>() + regions[2]["stats"]["cycles"][k].get<uint64_t>());
        EXPECT_EQ(run["dma"]["cycles"][k], regions[2]["stats"]["dma"]["cycles"][k]);
    }
    EXPECT_EQ(run["vector_length_settings"]["set_vl"], 1);
    EXPECT_EQ(regions[0]["stats"]["vector_length_settings"]["set_vl"], 0);

    // The estimate of a region is that of its own statistics.
    kmrsim_estimate_t in_outer{}, in_dma{};
    ASSERT_EQ(kmrsim_estimate_region("outer", 4, 4, &in_outer), 0);
    ASSERT_EQ(kmrsim_estimate_region("inner", 4, 4, &in_dma), 0);
    EXPECT_EQ(in_outer.compute_cycles, 28u);
    EXPECT_EQ(in_outer.dma_cycles, 0u);
    EXPECT_EQ(in_dma.compute_cycles, 0u);
    EXPECT_EQ(in_dma.dma_cycles, 16u);
    EXPECT_EQ(in_dma.overlapped_cycles, 16u);
}

TEST_F(Profile, OpenRegionsResetAndMisuse)
{
    int32_t *a = word(0);
    kmr_set_vl(8);
    kmrsim_region_begin("run");
    kmr_VVWWS(VADD, a, a, a);
    kmrsim_region_begin("phase");
    kmr_VVWWS(VADD, a, a, a);

    json doc = stats_json();
    ASSERT_EQ(doc["regions"].size(), 2u);
    EXPECT_TRUE(doc["regions"][1]["open"]);
    EXPECT_EQ(doc["regions"][1]["entries"], 0);
    EXPECT_EQ(doc["regions"][1]["stats"]["instructions"], 1);  // counted so far
    EXPECT_EQ(doc["regions"][0]["stats"]["instructions"], 2);

    // A reset clears the totals; the open regions count on from zero.
    kmrsim_reset_stats();
    kmr_VVWWS(VMUL, a, a, a);
    kmrsim_region_end();
    kmrsim_region_end();
    doc = stats_json();
    ASSERT_EQ(doc["regions"].size(), 2u);
    EXPECT_EQ(doc["regions"][0]["path"], "run");
    EXPECT_EQ(doc["regions"][1]["path"], "run/phase");
    EXPECT_FALSE(doc["regions"][0]["open"]);
    EXPECT_EQ(doc["regions"][0]["stats"]["instructions"], 1);
    EXPECT_EQ(doc["regions"][1]["stats"]["instructions"], 1);
    EXPECT_EQ(opcode_entry(doc["regions"][1]["stats"], "VMUL")["count"], 1);

    // An end too many is refused; a begin without a name still pairs with its end.
    ::testing::internal::CaptureStderr();
    kmrsim_region_end();
    kmrsim_region_begin(nullptr);
    kmr_VVWWS(VADD, a, a, a);
    kmrsim_region_end();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Error: kmrsim_region_end: no region is open; nothing closed"), std::string::npos) << err;
    EXPECT_NE(err.find("Error: kmrsim_region_begin: a region needs a name"), std::string::npos) << err;
    doc = stats_json();
    ASSERT_EQ(doc["regions"].size(), 3u);
    EXPECT_EQ(doc["regions"][2]["path"], "(unnamed)");
    EXPECT_EQ(doc["regions"][2]["stats"]["instructions"], 1);
}

TEST_F(Profile, RegionNamesAreEscapedInJsonAndTable)
{
    const char name[] = "quote \" back\\slash\nnew line \xff";
    kmrsim_region_begin(name);
    kmrsim_region_end();
    const json doc = stats_json();
    const std::string got = doc["regions"][0]["name"];
    EXPECT_EQ(got.substr(0, 28), std::string(name, 28));
    EXPECT_EQ(got.substr(28), "\xEF\xBF\xBD");  // the invalid byte, replaced

    // In the text table the line break does not start a new row.
    const std::string table = written_by([](FILE *f) { kmrsim_print_regions(f); });
    EXPECT_NE(table.find("quote \" back\\slash?new line"), std::string::npos) << table;
}

TEST_F(Profile, RegionTable)
{
    int32_t *a = word(0);
    kmr_set_vl(64);
    kmrsim_region_begin("kernel");
    {
        kmrsim::region r("block");
        kmr_VVWWS(VADD, a, a, a);
    }
    static int32_t host[25];
    sim_dma_to_vector(a, host, 100);
    kmr_sync();
    kmrsim_region_end();
    kmrsim_region_begin("tail");
    const std::string table = written_by([](FILE *f) { kmrsim_print_regions(f); });
    std::istringstream in(table);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    kmrsim_region_end();
    ASSERT_EQ(lines.size(), 15u) << table;
    EXPECT_EQ(lines[0], "REGIONS (inclusive: a region counts the regions inside it)");
    EXPECT_EQ(lines[2], "Compute cycles on 1 to 256 lanes:");
    EXPECT_EQ(lines[5], "kernel         |       1 |            1 |          100 |         64 |         32 |         16 "
                        "|          8 |          4 |          2 |          1 |          1 |          1 |");
    EXPECT_EQ(lines[6], "  kernel/block |       1 |            1 |            0 |         64 |         32 |         16 "
                        "|          8 |          4 |          2 |          1 |          1 |          1 |");
    EXPECT_NE(lines[7].find("tail"), std::string::npos);
    EXPECT_EQ(lines[7].substr(lines[7].size() - 7), " (open)");
    EXPECT_EQ(lines[9], "DMA cycles on bus widths of 1 to 256 bytes:");
    EXPECT_EQ(lines[13],
              "  kernel/block |       1 |            1 |            0 |          0 |          0 |          0 "
              "|          0 |          0 |          0 |          0 |          0 |          0 |");
    EXPECT_NE(lines[12].find("|        100 |         50 |         25 |         13 |          7 |          4 |"),
              std::string::npos);

    kmrsim_reset_stats();
    EXPECT_EQ(written_by([](FILE *f) { kmrsim_print_regions(f); }),
              "REGIONS (inclusive: a region counts the regions inside it)\nno regions\n");
}

// Cost lines of a callgrind text: the numbers after "line" per function.
struct callgrind_text {
    std::vector<std::string> events;
    std::vector<uint64_t> summary;
    std::map<std::string, std::map<int, std::vector<uint64_t>>> lines;  // by "file:function"
};

callgrind_text parse_callgrind(const std::string &text)
{
    callgrind_text c;
    std::istringstream in(text);
    std::string line, fl, fn;
    auto numbers = [](const std::string &s) {
        std::vector<uint64_t> v;
        std::istringstream ns(s);
        for (uint64_t x; ns >> x;)
            v.push_back(x);
        return v;
    };
    while (std::getline(in, line)) {
        if (line.rfind("events: ", 0) == 0) {
            std::istringstream es(line.substr(8));
            for (std::string e; es >> e;)
                c.events.push_back(e);
        } else if (line.rfind("summary: ", 0) == 0) {
            c.summary = numbers(line.substr(9));
        } else if (line.rfind("fl=", 0) == 0) {
            fl = line.substr(3);
        } else if (line.rfind("fn=", 0) == 0) {
            fn = line.substr(3);
        } else if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) {
            std::vector<uint64_t> v = numbers(line);
            const int at = static_cast<int>(v.front());
            v.erase(v.begin());
            EXPECT_EQ(v.size(), c.events.size()) << line;
            c.lines[fl + ":" + fn][at] = v;
        }
    }
    return c;
}

[[gnu::noinline]] void two_sites(int32_t *a, int rows)
{
    kmr_set_vl(20);
    for (int i = 0; i < 4; ++i)
        kmr_VVWWS(VADD, a, a, a);
    KMR_SET_VL(KMR_SEL_COUNT, static_cast<uint32_t>(rows), 80);
    kmr_2D_VVWHS(VADD, reinterpret_cast<int16_t *>(a), a, a);
    kmr_set_vl(1);  // the instruction above is not a tail call, which would return to our caller
}

TEST_F(Profile, CallSitesAreOffByDefaultAndCollectWhenOn)
{
    EXPECT_FALSE(kmrsim::observers_active);
    int32_t *a = word(0);
    two_sites(a, 3);
    callgrind_text off = parse_callgrind(written_by([](FILE *f) { EXPECT_EQ(kmrsim_write_callgrind(f), 0); }));
    EXPECT_TRUE(off.lines.empty());
    EXPECT_EQ(off.summary, std::vector<uint64_t>(11, 0));

    kmrsim_profile_call_sites(1);
    EXPECT_TRUE(kmrsim::observers_active);
    two_sites(a, 3);
    kmrsim_profile_call_sites(0);
    EXPECT_FALSE(kmrsim::observers_active);
    two_sites(a, 3);  // not collected

    const callgrind_text on = parse_callgrind(written_by([](FILE *f) { kmrsim_write_callgrind(f); }));
    EXPECT_EQ(on.events, (std::vector<std::string>{"Instr", "Elem", "Cyc1", "Cyc2", "Cyc4", "Cyc8", "Cyc16", "Cyc32",
                                                   "Cyc64", "Cyc128", "Cyc256"}));
    // Both sites are in two_sites, in this file, on the lines of its calls.
    std::map<int, std::vector<uint64_t>> sites;
    for (const auto &[where, lines] : on.lines) {
        EXPECT_NE(where.find("profile_test.cpp:"), std::string::npos) << where;
        EXPECT_NE(where.find("two_sites"), std::string::npos) << where;
        sites.insert(lines.begin(), lines.end());
    }
    ASSERT_EQ(sites.size(), 2u);
    const std::vector<uint64_t> loop_site = sites.begin()->second, row_site = sites.rbegin()->second;
    EXPECT_EQ(sites.rbegin()->first - sites.begin()->first, 2);  // the two calls are two lines apart
    EXPECT_EQ(loop_site, (std::vector<uint64_t>{4, 80, 80, 40, 20, 12, 8, 4, 4, 4, 4}));
    EXPECT_EQ(row_site, (std::vector<uint64_t>{1, 60, 60, 30, 15, 9, 6, 3, 3, 3, 3}));
    std::vector<uint64_t> sum(11, 0);
    for (size_t i = 0; i < 11; ++i)
        sum[i] = loop_site[i] + row_site[i];
    EXPECT_EQ(on.summary, sum);

    kmrsim_reset_stats();
    EXPECT_TRUE(parse_callgrind(written_by([](FILE *f) { kmrsim_write_callgrind(f); })).lines.empty());
}

// A typed call is inlined into the program at every optimisation level, so
// the profile and the failure reports name the program's line, not the
// typed call's header.
TEST_F(Profile, TypedCallSitesAreTheProgramsLines)
{
    int32_t *a = word(0);
    kmr_set_vl(4);
    kmrsim_profile_call_sites(1);
    const int line = __LINE__ + 1;
    kmr_VVWWS(VADD, a, a, a);
    kmr_set_vl(4);  // not a tail call
    kmrsim_profile_call_sites(0);
    const callgrind_text c = parse_callgrind(written_by([](FILE *f) { kmrsim_write_callgrind(f); }));
    ASSERT_EQ(c.lines.size(), 1u);
    EXPECT_NE(c.lines.begin()->first.find("profile_test.cpp:"), std::string::npos) << c.lines.begin()->first;
    EXPECT_EQ(c.lines.begin()->second.count(line), 1u);

    const std::string where = "called from .*profile_test\\.cpp:" + std::to_string(__LINE__ + 1);
    EXPECT_DEATH(kmr_VVWWS(VADD, a, a, reinterpret_cast<int32_t *>(uintptr_t(16))), where);
}

TEST_F(Profile, EstimateBoundsForOneConfiguration)
{
    run_workload();
    const kmrsim_stats_t st = kmrsim_get_stats();
    kmrsim_estimate_t e{};
    ASSERT_EQ(kmrsim_estimate(8, 2, &e), 0);
    uint64_t compute = 0;
    for (int op = 0; op < KMRSIM_NUM_OPCODES; ++op)
        compute += st.cycle_count[op][3];
    EXPECT_EQ(e.lanes, 8);
    EXPECT_EQ(e.bus_bytes, 2);
    EXPECT_EQ(e.compute_cycles, compute);
    EXPECT_EQ(e.dma_cycles, st.dma_cycles[1]);
    EXPECT_EQ(e.dma_cycles, 500u + 167u);
    EXPECT_GT(e.dma_cycles, e.compute_cycles);
    EXPECT_EQ(e.overlapped_cycles, e.dma_cycles);
    EXPECT_EQ(e.serial_cycles, e.compute_cycles + e.dma_cycles);

    const std::string printed = written_by([](FILE *f) { EXPECT_EQ(kmrsim_print_estimate(f, 8, 2), 0); });
    std::ostringstream want;
    want << "ESTIMATE for 8 lanes and a DMA bus of 2 bytes (bounds of the cycle model):\n"
         << "compute cycles                  = " << e.compute_cycles << "\n"
         << "DMA cycles                      = " << e.dma_cycles << "\n"
         << "fully overlapped (lower bound)  = " << e.overlapped_cycles << "\n"
         << "not overlapped (upper bound)    = " << e.serial_cycles << "\n"
         << "larger part                     = DMA\n";
    EXPECT_EQ(printed, want.str());

    for (int v = 1, k = 0; v <= 256; v *= 2, ++k)
        EXPECT_EQ(kmrsim_config_index(v), k);
    for (int v : {0, -1, 3, 6, 512, 1 << 30})
        EXPECT_EQ(kmrsim_config_index(v), -1) << v;

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(kmrsim_estimate(3, 2, &e), -1);
    EXPECT_EQ(kmrsim_estimate(8, 512, &e), -1);
    EXPECT_EQ(kmrsim_estimate(8, 2, nullptr), -1);
    EXPECT_EQ(kmrsim_print_estimate(stdout, 0, 1), -1);
    EXPECT_EQ(kmrsim_estimate_region("nowhere", 1, 1, &e), -1);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Error: kmrsim_estimate: 3 is not a lane count the statistics estimate (1, 2, 4, ... 256)"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("Error: kmrsim_estimate: 512 is not a bus width in bytes"), std::string::npos) << err;
    EXPECT_NE(err.find("Error: kmrsim_estimate_region: no region \"nowhere\""), std::string::npos) << err;
}

}  // namespace
