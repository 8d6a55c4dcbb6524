// The execution trace: one line per event, each line a letter for its kind,
// a sequence number and key=value fields, so that a trace can be searched
// with grep and compared between runs.
//
//   I <seq> <mnemonic> <entry point> vl=<n> [rows=<n> d2= a2= b2=] [mats=<n> d3= a3= b3=]
//         [mask=<length>] dest=<where> a=<where|#value> b=<where|enum|none> cycles=<n>
//   D <seq> <to_vector|to_host> sp=<where> host=0x<address> bytes=<n>
//   C <seq> <to_vector|to_host> sp=<where> bytes=<n> [partial] by <sync|immediate|I <seq>>
//   X <seq> <to_vector|to_host> sp=<where> bytes=<n> dropped
//   R <seq> <register fields>
//   M <seq> <setup|refine> <condition> src=<where> length=<n>
//
// <where> is +0x<offset> in the scratchpad, mask+0x<offset> in the mask
// memory, or host:0x<address>. With KMRSIM_TRACE_CALLERS each line ends
// with " at <function> (<file>:<line>)" for the program's call.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <unordered_map>

#include "issue_record.hpp"
#include "kmr_diag.h"
#include "memory.hpp"
#include "observers.hpp"
#include "symbolize.hpp"
#include "tools.hpp"

namespace kmrsim {

trace_switch trace_config;

namespace {

uint64_t sequence = 0;
uint64_t last_instruction = 0;  // sequence number of the latest I line

// Formats an address as the trace shows it.
struct where {
    char text[48];
    explicit where(const void *p) : where(addr(p)) {}
    explicit where(uintptr_t a)
    {
        const memory_view mem = memory_view::current();
        if (mem.base != 0 && mem.holds(a, 0))
            std::snprintf(text, sizeof text, "+0x%llx", static_cast<unsigned long long>(a - mem.base));
        else if (mem.mask_holds(a, 0))
            std::snprintf(text, sizeof text, "mask+0x%llx", static_cast<unsigned long long>(a - mem.mask_base));
        else
            std::snprintf(text, sizeof text, "host:0x%llx", static_cast<unsigned long long>(a));
    }
};

// " at main (prog.c:12)" for a call site, looked up once per address.
const char *caller_suffix(const void *caller)
{
    if (!trace_config.on(KMRSIM_TRACE_CALLERS) || caller == nullptr)
        return "";
    static std::unordered_map<const void *, std::string> names;
    auto it = names.find(caller);
    if (it == names.end()) {
        source_location loc;
        std::string text;
        if (symbolize(caller, loc) && !loc.function.empty()) {
            text = " at " + loc.function;
            if (!loc.file.empty())
                text += " (" + loc.file + ":" + std::to_string(loc.line) + ")";
        } else {
            char buf[32];
            std::snprintf(buf, sizeof buf, " at 0x%llx", static_cast<unsigned long long>(addr(caller)));
            text = buf;
        }
        it = names.emplace(caller, std::move(text)).first;
    }
    return it->second.c_str();
}

int32_t stride(int reg)
{
    const kmr_sim_t &s = sim();
    return sign_extend_stride(s.regs[reg], s.reg_mask[reg]);
}

const char *direction(const dma_request_t &n)
{
    return n.to_host ? "to_host" : "to_vector";
}

const void *scratchpad_side(const dma_request_t &n)
{
    return n.to_host ? n.from : n.to;
}

}  // namespace

void trace_issue(int esize, const void *dest, const void *A, const void *B)
{
    const kmr_sim_t &s = sim();
    const issue_record &r = current_issue;
    FILE *out = trace_config.out;
    last_instruction = ++sequence;
    const char *name = opcode_name(r.op);
    std::fprintf(out, "I %" PRIu64 " %s %s vl=%" PRIu32, sequence, name != nullptr ? name : "?", r.entry,
                 s.regs[REG_VL]);
    if (r.dim >= 2)
        std::fprintf(out, " rows=%" PRIu32 " d2=%" PRId32 " a2=%" PRId32 " b2=%" PRId32, s.regs[REG_ROWS],
                     stride(REG_ID2), stride(REG_IA2), stride(REG_IB2));
    if (r.dim == 3)
        std::fprintf(out, " mats=%" PRIu32 " d3=%" PRId32 " a3=%" PRId32 " b3=%" PRId32, s.regs[REG_MATS],
                     stride(REG_ID3), stride(REG_IA3), stride(REG_IB3));
    if (r.masked)
        std::fprintf(out, " mask=%" PRId32, s.mask_length);
    std::fprintf(out, " dest=%s", where(dest).text);
    const bool a_vector = r.form == KMRSIM_FORM_VV || r.form == KMRSIM_FORM_VE;
    if (a_vector)
        std::fprintf(out, " a=%s", where(A).text);
    else
        std::fprintf(out, " a=#%" PRId32, load<int32_t>(addr(A)));
    if (r.form == KMRSIM_FORM_VE || r.form == KMRSIM_FORM_SE)
        std::fputs(" b=enum", out);
    else if (B == nullptr)
        std::fputs(" b=none", out);  // an opcode that reads no B
    else
        std::fprintf(out, " b=%s", where(B).text);
    // Cycles on the configured lane count: elements per cycle are 4 bytes
    // per lane divided by the element size, as in the statistics.
    const uint64_t per_cycle = std::max<uint64_t>(1, uint64_t(4) * uint64_t(std::max<int>(1, s.tqm.vector_lanes)) /
                                                         static_cast<uint64_t>(esize));
    uint64_t cycles = (uint64_t(s.regs[REG_VL]) + per_cycle - 1) / per_cycle;
    if (r.dim >= 2)
        cycles *= s.regs[REG_ROWS];
    if (r.dim == 3)
        cycles *= s.regs[REG_MATS];
    std::fprintf(out, " cycles=%" PRIu64 "%s\n", cycles, caller_suffix(r.caller));
}

void trace_dma_request(const dma_request_t &n, const void *caller)
{
    std::fprintf(trace_config.out, "D %" PRIu64 " %s sp=%s host=0x%llx bytes=%" PRIu64 "%s\n", ++sequence,
                 direction(n), where(scratchpad_side(n)).text,
                 static_cast<unsigned long long>(addr(n.to_host ? n.to : n.from)), n.size, caller_suffix(caller));
}

void trace_dma_copy(const dma_request_t &n, uint64_t bytes, dma_cause cause)
{
    FILE *out = trace_config.out;
    std::fprintf(out, "C %" PRIu64 " %s sp=%s bytes=%" PRIu64 "%s by ", ++sequence, direction(n),
                 where(scratchpad_side(n)).text, bytes, bytes < n.size ? " partial" : "");
    switch (cause) {
    case dma_cause::sync: std::fputs("sync\n", out); break;
    case dma_cause::immediate: std::fputs("immediate\n", out); break;
    case dma_cause::instruction: std::fprintf(out, "I %" PRIu64 "\n", last_instruction); break;
    }
}

void trace_dma_drop(const dma_request_t &n)
{
    std::fprintf(trace_config.out, "X %" PRIu64 " %s sp=%s bytes=%" PRIu64 " dropped\n", ++sequence, direction(n),
                 where(scratchpad_side(n)).text, n.size);
}

void trace_register(const char *text, const void *caller)
{
    std::fprintf(trace_config.out, "R %" PRIu64 " %s%s\n", ++sequence, text, caller_suffix(caller));
}

void trace_mask(bool refine, vinstr_t condition, const void *src, int32_t length)
{
    const char *name = opcode_name(condition);
    std::fprintf(trace_config.out, "M %" PRIu64 " %s %s src=%s length=%" PRId32 "%s\n", ++sequence,
                 refine ? "refine" : "setup", name != nullptr ? name : "?", where(src).text, length,
                 caller_suffix(current_issue.caller));
}

}  // namespace kmrsim

extern "C" void kmrsim_trace(FILE *out, unsigned what)
{
    kmrsim::trace_switch &t = kmrsim::trace_config;
    if (t.out != nullptr)
        std::fflush(t.out);
    if (out == nullptr || (what & KMRSIM_TRACE_ALL & ~KMRSIM_TRACE_CALLERS) == 0) {
        t = {};
    } else {
        if (t.out == nullptr)
            kmrsim::sequence = 0;  // numbering starts again with each trace
        t.out = out;
        t.what = what & KMRSIM_TRACE_ALL;
    }
    kmrsim::update_observers();
}
