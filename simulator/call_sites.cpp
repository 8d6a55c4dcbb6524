// The call-site profile: while it is on, every issued instruction is added
// to the entry of its call site (the return address in the program), and
// the entries are written in the callgrind format with the program's source
// lines. A site's entry is allocated the first time the site issues; after
// that an instruction costs a hash lookup and a few additions.
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <map>
#include <string>
#include <tuple>
#include <unordered_map>

#include "cycle_model.hpp"
#include "issue_record.hpp"
#include "observers.hpp"
#include "profile.hpp"
#include "symbolize.hpp"

namespace kmrsim {

namespace {

struct site_cost {
    uint64_t instructions = 0;
    uint64_t elements = 0;
    uint64_t cycles[KMRSIM_NUM_CONFIGS] = {};

    void add(const site_cost &o)
    {
        instructions += o.instructions;
        elements += o.elements;
        for (int k = 0; k < KMRSIM_NUM_CONFIGS; ++k)
            cycles[k] += o.cycles[k];
    }
};

bool enabled = false;
std::unordered_map<const void *, site_cost> sites;

// Where the program issued the instruction: the innermost inlined level
// outside the host API's headers, else the address's own line.
struct site_place {
    std::string object, file, function;
    int line = 0;
};

site_place place_of(const void *address)
{
    source_location loc;
    site_place p;
    if (!symbolize(address, loc)) {
        p.object = "???";
        p.file = "???";
        p.function = "???";
        return p;
    }
    p.object = loc.object.empty() ? "???" : loc.object;
    p.file = loc.file;
    p.line = loc.line;
    p.function = loc.function;
    if (const inline_frame *f = program_frame(loc)) {
        p.file = f->file;
        p.line = f->line;
        // The outermost level is the symbol's function, named in full by
        // the symbol table.
        if (f != &loc.frames.back() && !f->function.empty())
            p.function = f->function;
    }
    if (p.file.empty())
        p.file = "???";
    if (p.function.empty()) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "0x%" PRIxPTR, reinterpret_cast<uintptr_t>(address));
        p.function = buf;
    }
    return p;
}

// The program's command line, for the profile's "cmd:" line.
std::string command_line()
{
    std::string cmd;
    if (FILE *f = std::fopen("/proc/self/cmdline", "rb")) {
        int c;
        while ((c = std::fgetc(f)) != EOF)
            cmd += c == '\0' ? ' ' : static_cast<char>(c);
        std::fclose(f);
    }
    while (!cmd.empty() && cmd.back() == ' ')
        cmd.pop_back();
    for (char &c : cmd)
        if (c == '\n' || c == '\r')
            c = ' ';
    return cmd.empty() ? "kmrsim" : cmd;
}

void write_cost(FILE *out, const site_cost &c)
{
    std::fprintf(out, " %" PRIu64 " %" PRIu64, c.instructions, c.elements);
    for (uint64_t v : c.cycles)
        std::fprintf(out, " %" PRIu64, v);
}

// Names in the callgrind format end at the line's end.
std::string one_line(std::string s)
{
    for (char &c : s)
        if (c == '\n' || c == '\r')
            c = ' ';
    return s;
}

}  // namespace

bool call_sites_enabled()
{
    return enabled;
}

void profile_call_site(int esize)
{
    if (!enabled)
        return;
    const kmr_sim_t &s = sim();
    uint32_t c[KMRSIM_NUM_CONFIGS];
    instruction_cycles(current_issue.dim, esize, c);
    uint64_t elements = s.regs[REG_VL];
    if (current_issue.dim >= 2)
        elements *= s.regs[REG_ROWS];
    if (current_issue.dim == 3)
        elements *= s.regs[REG_MATS];
    site_cost &site = sites[current_issue.caller];
    site.instructions += 1;
    site.elements += elements;
    for (int k = 0; k < KMRSIM_NUM_CONFIGS; ++k)
        site.cycles[k] += c[k];
}

void reset_call_sites()
{
    sites.clear();
}

}  // namespace kmrsim

using namespace kmrsim;

extern "C" void kmrsim_profile_call_sites(int on)
{
    enabled = on != 0;
    update_observers();
}

extern "C" int kmrsim_write_callgrind(FILE *out)
{
    if (out == nullptr) {
        std::fprintf(stderr, "Error: kmrsim_write_callgrind: no output file; nothing written\n");
        return -1;
    }
    // Sites by object, file, function and line; sites on one line (several
    // calls, or one call inlined in several places) are added together.
    std::map<std::tuple<std::string, std::string, std::string>, std::map<int, site_cost>> places;
    site_cost total;
    for (const auto &[address, cost] : sites) {
        site_place p = place_of(address);
        places[{one_line(p.object), one_line(p.file), one_line(p.function)}][p.line].add(cost);
        total.add(cost);
    }

    std::fputs("# callgrind format\nversion: 1\ncreator: kmrsim\n", out);
    std::fprintf(out, "cmd: %s\n", one_line(command_line()).c_str());
    std::fprintf(out, "pid: %ld\n", static_cast<long>(getpid()));
    std::fputs("positions: line\n", out);
    std::fputs("event: Instr : Instructions issued\n", out);
    std::fputs("event: Elem : Elements (vector length x rows x matrices)\n", out);
    for (int k = 0; k < KMRSIM_NUM_CONFIGS; ++k)
        std::fprintf(out, "event: Cyc%u : Estimated cycles on %u lane%s\n", 1u << k, 1u << k, k == 0 ? "" : "s");
    std::fputs("events: Instr Elem", out);
    for (int k = 0; k < KMRSIM_NUM_CONFIGS; ++k)
        std::fprintf(out, " Cyc%u", 1u << k);
    std::fputs("\nsummary:", out);
    write_cost(out, total);
    std::fputs("\n", out);
    for (const auto &[key, lines] : places) {
        const auto &[object, file, function] = key;
        std::fprintf(out, "\nob=%s\nfl=%s\nfn=%s\n", object.c_str(), file.c_str(), function.c_str());
        for (const auto &[line, cost] : lines) {
            std::fprintf(out, "%d", line);
            write_cost(out, cost);
            std::fputs("\n", out);
        }
    }
    std::fputs("\ntotals:", out);
    write_cost(out, total);
    std::fputs("\n", out);
    if (std::fflush(out) != 0 || std::ferror(out)) {
        std::fprintf(stderr, "Error: kmrsim_write_callgrind: the profile could not be written\n");
        return -1;
    }
    return 0;
}
