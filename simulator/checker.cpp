// The checker: finds reads of scratchpad memory that nothing wrote, operands
// beyond the allocated part of the scratchpad, and flags read as inputs that
// no instruction wrote. Each is a mistake that the simulation would hide (its
// memories start zeroed) and the processor would show.
//
// Method. A shadow byte per scratchpad byte records whether an instruction
// or a DMA transfer wrote it, and another whether an instruction wrote its
// flag. The program's own writes through scratchpad pointers cannot be seen
// as they happen, so at initialisation the scratchpad is filled with a
// pattern that depends on the address: a byte that no longer holds its
// pattern was written by the program. A value is taken as never written when
// its bytes, and every byte of the aligned 8-byte blocks around it that no
// instruction or transfer wrote, still hold the pattern (programs write whole
// values, so one changed byte in the block means the program wrote there).
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "issue_record.hpp"
#include "kmr_diag.h"
#include "memory.hpp"
#include "symbolize.hpp"
#include "tools.hpp"

namespace kmrsim {

unsigned check_config = 0;

namespace {

enum finding_kind { unwritten, unallocated, unwritten_flag };

// The shadow memories, made by kmrsim_init while a check that needs them is
// on.
struct shadow_state {
    std::vector<uint8_t> written;       // byte written by an instruction, a transfer or the program
    std::vector<uint8_t> flag_written;  // flag written by an instruction or the program
    uintptr_t base = 0;
    bool values = false;       // reads of unwritten bytes are tracked
    bool flags = false;        // reads of unwritten flags are tracked
    bool flags_filled = false;  // the flag memory holds the pattern, not zeros
};
shadow_state shadow;

// Findings per (call site, kind); the first of each is printed.
std::map<std::pair<const void *, int>, unsigned long> findings;
unsigned long finding_total = 0;

// The fill byte of scratchpad offset i: a hash, so that runs of program data
// (zeros, small numbers, repeated values) almost never match it.
inline uint8_t pattern(size_t i)
{
    uint32_t h = static_cast<uint32_t>(i) * 0x9E3779B1u;
    h ^= h >> 15;
    h *= 0x85EBCA77u;
    h ^= h >> 13;
    return static_cast<uint8_t>(h ^ (h >> 24));
}

// Counts a finding; true when it is the first at its call site.
bool count_finding(finding_kind kind, const void *caller)
{
    ++finding_total;
    return findings[{caller, kind}]++ == 0;
}

bool on(unsigned check)
{
    return (check_config & check) != 0;
}

const uint8_t *sp_bytes()
{
    return static_cast<const uint8_t *>(sim().tqm.scratchpad_addr);
}

// Offset of a scratchpad range, or -1 when [a, a + n) is not all in it.
int64_t scratchpad_offset(uintptr_t a, uint64_t n)
{
    const memory_view mem = memory_view::current();
    if (shadow.base != mem.base || !mem.holds(a, n))
        return -1;
    return static_cast<int64_t>(a - mem.base);
}

// The program wrote byte i when it no longer holds its fill.
inline bool program_wrote(size_t i)
{
    return sp_bytes()[i] != pattern(i);
}

// The value at [off, off + n) was never written (see the method above).
// Bytes found changed by the program are marked written on the way.
bool never_written(size_t off, size_t n)
{
    for (size_t i = off; i < off + n; ++i) {
        if (shadow.written[i] != 0)
            return false;
        if (program_wrote(i)) {
            std::memset(&shadow.written[off], 1, n);
            return false;
        }
    }
    const size_t lo = off & ~size_t(7);
    const size_t hi = std::min(shadow.written.size(), (off + n + 7) & ~size_t(7));
    for (size_t i = lo; i < hi; ++i) {
        if (shadow.written[i] == 0 && program_wrote(i)) {
            std::memset(&shadow.written[off], 1, n);
            return false;
        }
    }
    return true;
}

// The flag of the element at off was never written.
bool flag_never_written(size_t off, size_t n)
{
    if (shadow.flag_written[off] != 0)
        return false;
    // The program may set flags itself (get_flg_addr): a flag that differs
    // from the fill was written.
    const uint8_t *flags = sim().flag_memory;
    for (size_t i = off; i < off + n; ++i) {
        const uint8_t fill = shadow.flags_filled ? pattern(i) : 0;
        if (flags[i] != fill) {
            std::memset(&shadow.flag_written[off], 1, n);
            return false;
        }
    }
    return true;
}

// Element i of a row is enabled (a masked row reads and writes only the
// elements whose mask byte is not zero).
inline bool enabled(const uint8_t *mask, int32_t i)
{
    return mask == nullptr || mask[i] != 0;
}

void report_element(finding_kind kind, operand_kind operand, uintptr_t at, size_t n, int32_t element)
{
    if (!count_finding(kind, current_issue.caller))
        return;
    char where[256];
    describe_operand(where, sizeof where, operand_name(operand), at, static_cast<int64_t>(n));
    char what[400];
    if (kind == unwritten)
        std::snprintf(what, sizeof what, "%s (element %" PRId32 " of the row) read but never written", where,
                      element);
    else
        std::snprintf(what, sizeof what, "flag of %s (element %" PRId32 " of the row) read but never written", where,
                      element);
    print_issue_context(true, what);
}

// Reads of a vector source row: values never written, or flags.
void check_source(operand_kind operand, uintptr_t a, int size, int32_t L, const uint8_t *mask, bool values,
                  bool flags)
{
    const uint64_t bytes = uint64_t(uint32_t(std::max(L, 0))) * uint64_t(size);
    const int64_t off = scratchpad_offset(a, bytes);
    if (off < 0 || bytes == 0)
        return;
    const size_t o = static_cast<size_t>(off);
    const size_t n = static_cast<size_t>(size);
    // The first enabled element whose value (or flag) was never written is
    // reported; a row whose shadow is all set needs no look at its elements.
    auto scan = [&](const std::vector<uint8_t> &marks, finding_kind kind, bool (*never)(size_t, size_t)) {
        if (mask == nullptr && std::memchr(&marks[o], 0, bytes) == nullptr)
            return;
        for (int32_t i = 0; i < L; ++i) {
            if (enabled(mask, i) && never(o + size_t(i) * n, n)) {
                report_element(kind, operand, a + size_t(i) * n, n, i);
                return;
            }
        }
    };
    if (values)
        scan(shadow.written, unwritten, never_written);
    if (flags)
        scan(shadow.flag_written, unwritten_flag, flag_never_written);
}

// An operand range that reaches past the allocator's free pointer (or lies
// below the scratchpad's start, which the range check already refuses).
void check_allocated(operand_kind operand, uintptr_t a, uint64_t bytes, const void *caller, const char *call)
{
    const kmr_sim_t &s = sim();
    const uintptr_t base = addr(s.tqm.scratchpad_addr);
    const uintptr_t free_ptr = addr(s.tqm.sp);
    if (bytes == 0 || a < base || a > addr(s.tqm.scratchpad_end))
        return;  // the mask memory, or outside the scratchpad altogether
    if (a + bytes <= free_ptr)
        return;
    if (!count_finding(unallocated, caller))
        return;
    char where[256];
    describe_operand(where, sizeof where, operand_name(operand), a, static_cast<int64_t>(bytes));
    char what[400];
    std::snprintf(what, sizeof what, "%s reaches past the allocated scratchpad (allocated: scratchpad+0x0 to +0x%llx)",
                  where, static_cast<unsigned long long>(free_ptr - base));
    if (call == nullptr) {
        print_issue_context(true, what);
    } else {
        char full[480];
        std::snprintf(full, sizeof full, "%s: %s", call, what);
        print_call_context(true, full, caller);
    }
}

void mark(std::vector<uint8_t> &marks, uintptr_t a, int size, int32_t L, const uint8_t *mask)
{
    const uint64_t bytes = uint64_t(uint32_t(std::max(L, 0))) * uint64_t(size);
    const int64_t off = scratchpad_offset(a, bytes);
    if (off < 0 || bytes == 0)
        return;
    if (mask == nullptr) {
        std::memset(&marks[size_t(off)], 1, bytes);
        return;
    }
    for (int32_t i = 0; i < L; ++i)
        if (mask[i] != 0)
            std::memset(&marks[size_t(off) + size_t(i) * size_t(size)], 1, size_t(size));
}

void print_summary()
{
    if (finding_total == 0)
        return;
    const unsigned long sites = findings.size();
    std::fflush(stdout);
    std::fprintf(stderr, "Warning: kmrsim_check: %lu finding%s at %lu call site%s (%lu repeat%s not shown)\n",
                 finding_total, finding_total == 1 ? "" : "s", sites, sites == 1 ? "" : "s", finding_total - sites,
                 finding_total - sites == 1 ? "" : "s");
}

}  // namespace

void check_row(const row_access &r)
{
    const kmr_sim_t &s = sim();
    const uint8_t *mask = r.masked ? s.mask_memory : nullptr;
    const bool values = shadow.values && on(KMRSIM_CHECK_UNWRITTEN);
    const bool flags = shadow.flags && on(KMRSIM_CHECK_FLAGS);
    const int32_t L = std::max(r.L, 0);
    if (on(KMRSIM_CHECK_UNALLOCATED)) {
        const uint64_t src_bytes = uint64_t(uint32_t(L)) * uint64_t(r.src_size);
        check_allocated(operand_kind::dest, r.dest, r.acc ? uint64_t(r.dest_size) : uint64_t(uint32_t(L)) * uint64_t(r.dest_size),
                        current_issue.caller, nullptr);
        if (r.reads_a)
            check_allocated(operand_kind::a, r.a, src_bytes, current_issue.caller, nullptr);
        if (r.reads_b || r.reads_b_flag)
            check_allocated(operand_kind::b, r.b, src_bytes, current_issue.caller, nullptr);
    }
    if (values || flags) {
        if (r.reads_a)
            check_source(operand_kind::a, r.a, r.src_size, L, mask, values, false);
        if (r.reads_b || r.reads_b_flag)
            check_source(operand_kind::b, r.b, r.src_size, L, mask, values && r.reads_b, flags && r.reads_b_flag);
    }
    // The destination counts as written, values and flags, for every enabled
    // element (one for an accumulating row).
    if (shadow.values)
        mark(shadow.written, r.dest, r.dest_size, r.acc ? 1 : L, r.acc ? nullptr : mask);
    if (shadow.flags && r.dest_flags)
        mark(shadow.flag_written, r.dest, r.dest_size, r.acc ? 1 : L, r.acc ? nullptr : mask);
}

void check_dma_request(const dma_request_t &n, const void *caller)
{
    const uintptr_t sp_side = addr(n.to_host ? n.from : n.to);
    const char *call = n.to_host ? "sim_dma_to_host" : "sim_dma_to_vector";
    if (on(KMRSIM_CHECK_UNALLOCATED))
        check_allocated(operand_kind::dest, sp_side, n.size, caller, call);
    if (!n.to_host || !shadow.values || !on(KMRSIM_CHECK_UNWRITTEN))
        return;
    const int64_t off = scratchpad_offset(sp_side, n.size);
    if (off < 0 || std::memchr(&shadow.written[size_t(off)], 0, n.size) == nullptr)
        return;
    // Transfers complete in order: bytes that a transfer queued earlier
    // brings in are written by the time this one reads them.
    const kmr_sim_t &s = sim();
    for (uint64_t i = 0; i < n.size; ++i) {
        const uintptr_t a = sp_side + i;
        if (!never_written(size_t(off) + i, 1))
            continue;
        bool incoming = false;
        for (const dma_request_t *q = s.dma_queue; q != nullptr && q != &n; q = q->next)
            incoming = incoming || (!q->to_host && a >= addr(q->to) && a - addr(q->to) < q->size);
        if (incoming)
            continue;
        if (count_finding(unwritten, caller)) {
            char where[256];
            describe_operand(where, sizeof where, "scratchpad side", a, 1);
            char what[400];
            std::snprintf(what, sizeof what, "%s: %s (byte %" PRIu64 " of %" PRIu64 ") read but never written", call,
                          where, i, n.size);
            print_call_context(true, what, caller);
        }
        break;
    }
}

void check_dma_copy(const dma_request_t &n, uint64_t bytes)
{
    if (n.to_host || !shadow.values)
        return;
    const int64_t off = scratchpad_offset(addr(n.to), bytes);
    if (off >= 0 && bytes != 0)
        std::memset(&shadow.written[size_t(off)], 1, bytes);
}

void check_init()
{
    kmr_sim_t &s = sim();
    const bool fill = on(KMRSIM_CHECK_UNWRITTEN) || on(KMRSIM_CHECK_FILL);
    const size_t size = static_cast<size_t>(std::max(s.tqm.scratchpad_size, 0));
    shadow.values = on(KMRSIM_CHECK_UNWRITTEN);
    shadow.flags = on(KMRSIM_CHECK_FLAGS);
    shadow.flags_filled = on(KMRSIM_CHECK_FILL);
    shadow.base = addr(s.tqm.scratchpad_addr);
    shadow.written.assign(shadow.values ? size : 0, 0);
    shadow.flag_written.assign(shadow.flags ? size : 0, 0);
    if (!shadow.values)
        shadow.written.shrink_to_fit();
    if (!shadow.flags)
        shadow.flag_written.shrink_to_fit();
    auto *sp = static_cast<uint8_t *>(s.tqm.scratchpad_addr);
    for (size_t i = 0; fill && i < size; ++i)
        sp[i] = pattern(i);
    for (size_t i = 0; shadow.flags_filled && i < size; ++i)
        s.flag_memory[i] = pattern(i);
}

}  // namespace kmrsim

extern "C" void kmrsim_check(unsigned what)
{
    using namespace kmrsim;
    static bool summary_registered = false;
    what &= KMRSIM_CHECK_ALL;
    const unsigned at_init = KMRSIM_CHECK_UNWRITTEN | KMRSIM_CHECK_FLAGS | KMRSIM_CHECK_FILL;
    const kmr_sim_t &s = sim();
    if (s.tqm.scratchpad_addr != nullptr && (what & at_init & ~check_config) != 0)
        std::fprintf(stderr,
                     "Warning: kmrsim_check: the unwritten-memory, flag and fill checks start at the next "
                     "kmrsim_init\n");
    check_config = what;
    if (what != 0 && !summary_registered) {
        summary_registered = true;
        std::atexit(print_summary);
    }
    update_observers();
}

extern "C" unsigned long kmrsim_check_findings(void)
{
    return kmrsim::finding_total;
}

extern "C" void kmrsim_check_summary(void)
{
    kmrsim::print_summary();
    kmrsim::finding_total = 0;
    kmrsim::findings.clear();
}
