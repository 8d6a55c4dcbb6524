// The issue record and the context line that failure reports and checker
// findings print: which instruction, through which entry point, with which
// operand, shape and row, called from where in the program.
#include "issue_record.hpp"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "memory.hpp"
#include "symbolize.hpp"

namespace kmrsim {

issue_record current_issue{};

void assertion_failed(const char *expr, const char *file, unsigned line, const char *function) noexcept
{
    std::fflush(stdout);
    __assert_fail(expr, file, line, function);
}

void describe_address(char *buf, size_t size, const void *address)
{
    source_location loc;
    const bool known = symbolize(address, loc);
    // A typed call or vector-library code inlined into the program: name
    // the program's line, not the header's.
    // (The outermost level is the symbol's function, whose name the symbol
    // table gives in full.)
    const inline_frame *f = known ? program_frame(loc) : nullptr;
    if (f != nullptr && f != &loc.frames.front()) {
        if (f != &loc.frames.back() && !f->function.empty())
            loc.function = f->function;
        loc.file = f->file;
        loc.line = f->line;
    }
    const unsigned long long a = reinterpret_cast<uintptr_t>(address);
    if (known && !loc.function.empty() && !loc.file.empty())
        std::snprintf(buf, size, "%s (%s:%d) [0x%llx]", loc.function.c_str(), loc.file.c_str(), loc.line, a);
    else if (known && !loc.function.empty())
        std::snprintf(buf, size, "%s [0x%llx]", loc.function.c_str(), a);
    else
        std::snprintf(buf, size, "[0x%llx]", a);
}

namespace {

// Appends printf-formatted text to a fixed buffer, truncating at its end.
struct line_buffer {
    char text[1024];
    size_t used = 0;

    template <typename... Args>
    void add(const char *format, Args... args)
    {
        if (used >= sizeof text)
            return;
        const int n = std::snprintf(text + used, sizeof text - used, format, args...);
        if (n > 0)
            used = std::min(sizeof text, used + static_cast<size_t>(n));
    }
};

int32_t stride(int reg)
{
    const kmr_sim_t &s = sim();
    return sign_extend_stride(s.regs[reg], s.reg_mask[reg]);
}

}  // namespace

void print_issue_context(bool warning, const char *what)
{
    const kmr_sim_t &s = sim();
    const issue_record &r = current_issue;
    line_buffer line;
    const char *name = opcode_name(r.op);
    char unknown[24];
    if (name == nullptr) {
        std::snprintf(unknown, sizeof unknown, "opcode %d", r.op);
        name = unknown;
    }
    line.add("%s%s: %s (%s)", warning ? "Warning: " : "Error: ", what, name, r.entry != nullptr ? r.entry : "?");
    line.add(", VL %" PRIu32, s.regs[REG_VL]);
    if (r.masked)
        line.add(", mask length %" PRId32, s.mask_length);
    if (r.dim >= 2)
        line.add(", rows %" PRIu32 " (strides dest %" PRId32 " A %" PRId32 " B %" PRId32 ")", s.regs[REG_ROWS],
                 stride(REG_ID2), stride(REG_IA2), stride(REG_IB2));
    if (r.dim == 3)
        line.add(", matrices %" PRIu32 " (strides dest %" PRId32 " A %" PRId32 " B %" PRId32 ")", s.regs[REG_MATS],
                 stride(REG_ID3), stride(REG_IA3), stride(REG_IB3));
    if (r.dim == 3)
        line.add(", at matrix %" PRId32 " row %" PRId32, r.mat, r.row);
    else if (r.dim == 2)
        line.add(", at row %" PRId32, r.row);
    line.add("; scratchpad [0x%llx, 0x%llx), %d bytes", static_cast<unsigned long long>(addr(s.tqm.scratchpad_addr)),
             static_cast<unsigned long long>(addr(s.tqm.scratchpad_end)), s.tqm.scratchpad_size);
    char caller[512];
    describe_address(caller, sizeof caller, r.caller);
    line.add("; called from %s", caller);
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", line.text);
}

void print_call_context(bool warning, const char *what, const void *caller)
{
    char where[512];
    describe_address(where, sizeof where, caller);
    std::fflush(stdout);
    std::fprintf(stderr, "%s%s; called from %s\n", warning ? "Warning: " : "Error: ", what, where);
}

// "operand A at sp+0x1f00, 256 bytes" or "... at host 0x7f..., ..."
void describe_operand(char *buf, size_t size, const char *name, uintptr_t a, int64_t len)
{
    const memory_view mem = memory_view::current();
    const uintptr_t base = mem.base;
    if (mem.mask_holds(a, 0))
        std::snprintf(buf, size, "%s at mask memory+0x%llx, %lld bytes", name,
                      static_cast<unsigned long long>(a - mem.mask_base), static_cast<long long>(len));
    else if (base != 0 && mem.holds(a, 0))
        std::snprintf(buf, size, "%s at scratchpad+0x%llx, %lld bytes", name,
                      static_cast<unsigned long long>(a - base), static_cast<long long>(len));
    else if (base != 0)
        std::snprintf(buf, size, "%s at host address 0x%llx (scratchpad%+lld), %lld bytes", name,
                      static_cast<unsigned long long>(a), static_cast<long long>(a - base), static_cast<long long>(len));
    else
        std::snprintf(buf, size, "%s at host address 0x%llx, %lld bytes", name, static_cast<unsigned long long>(a),
                      static_cast<long long>(len));
}

const char *operand_name(operand_kind kind)
{
    switch (kind) {
    case operand_kind::dest: return "destination";
    case operand_kind::a: return "operand A";
    case operand_kind::b: return "operand B";
    }
    return "operand";
}

void report_operand_failure(operand_kind kind, uintptr_t a, int64_t len)
{
    char what[256];
    describe_operand(what, sizeof what, operand_name(kind), a, len);
    char full[320];
    std::snprintf(full, sizeof full, "%s is outside the scratchpad", what);
    print_issue_context(false, full);
}

}  // namespace kmrsim
