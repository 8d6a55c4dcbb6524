// Statistics record: the short and the extended report, copy, reset, and
// the warnings switch. The counters themselves are written by the register
// writes, the instruction dispatch and the DMA requests; this module only
// reads, prints and clears them.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "kmrsim.hpp"
#include "profile.hpp"

namespace {

// Whether an opcode has a row in both reports: all do but the saturating
// VSUBFXP and VADDFXP, whose counters exist and count but are only visible
// in the cycle table's Total row.
constexpr bool has_report_row(int opcode)
{
    return opcode != VSUBFXP && opcode != VADDFXP;
}

// The opcodes of the report rows, in print order (increasing value).
constexpr auto opcode_rows = [] {
    constexpr size_t count = [] {
        size_t n = 0;
        for (int op = 0; op < KMRSIM_NUM_OPCODES; ++op)
            n += has_report_row(op) ? 1u : 0u;
        return n;
    }();
    std::array<int, count> rows{};
    size_t i = 0;
    for (int op = 0; op < KMRSIM_NUM_OPCODES; ++op)
        if (has_report_row(op))
            rows[i++] = op;
    return rows;
}();

// Text of one cycle-table row: nine cells " %8lu |". A cell holds at most
// 20 digits (a 64-bit total), so the widest row is 9 * 23 characters.
constexpr std::size_t cell_width_max = 1 + 20 + 2;
std::array<char, KMRSIM_NUM_CONFIGS * cell_width_max + 1> row_text;

// Fills row_text from nine values and returns it. The text stays valid
// until the next row is built.
const char *build_row_text(const std::array<std::uint64_t, KMRSIM_NUM_CONFIGS> &values)
{
    std::size_t used = 0;
    row_text[0] = '\0';
    for (std::uint64_t v : values) {
        int n = std::snprintf(row_text.data() + used, row_text.size() - used, " %8lu |", static_cast<unsigned long>(v));
        if (n > 0)
            used += static_cast<std::size_t>(n);
    }
    return row_text.data();
}

const char *opcode_row_text(const kmrsim_stats_t &st, int opcode)
{
    std::array<std::uint64_t, KMRSIM_NUM_CONFIGS> values{};
    for (size_t k = 0; k < KMRSIM_NUM_CONFIGS; ++k)
        values[k] = st.cycle_count[opcode][k];
    return build_row_text(values);
}

// Sums every opcode's cycles per configuration, including the opcodes
// that have no row of their own.
const char *total_row_text(const kmrsim_stats_t &st)
{
    std::array<std::uint64_t, KMRSIM_NUM_CONFIGS> values{};
    for (int op = 0; op < KMRSIM_NUM_OPCODES; ++op)
        for (size_t k = 0; k < KMRSIM_NUM_CONFIGS; ++k)
            values[k] += st.cycle_count[op][k];
    return build_row_text(values);
}

// A labelled line: label padded to 8 characters, " =  ", then the value.
void print_count_line(const char *label, std::uint32_t value)
{
    std::printf("%-8s =  %u\n", label, value);
}

void print_text_line(const char *label, const char *text)
{
    std::printf("%-8s =  %s\n", label, text);
}

void print_repeated(std::string_view piece, int times)
{
    for (int i = 0; i < times; ++i)
        std::fwrite(piece.data(), 1, piece.size(), stdout);
}

void print_instruction_block(const kmrsim_stats_t &st)
{
    std::fputs("INSTRUCTION COUNT:\n", stdout);
    std::uint32_t total = 0;  // wraps like the counters it sums
    for (int opcode : opcode_rows) {
        std::uint32_t count = st.instruction_count[opcode];
        print_count_line(kmrsim::opcode_name(opcode), count);
        total += count;
    }
    print_count_line("TOTAL", total);
    std::fputs("\n", stdout);
    print_count_line("set_vl", st.set_vl_count);
    print_count_line("set_2D", st.set_2D_count);
    print_count_line("set_3D", st.set_3D_count);
}

void print_dma_totals(const kmrsim_stats_t &st)
{
    std::printf("DMA CALLS:\n%u\nDMA BYTES:\n%u\n", st.dma_calls, st.dma_bytes);
}

void print_cycle_table(const kmrsim_stats_t &st)
{
    std::fputs("CYCLE COUNT:\n\n", stdout);
    std::fputs("Vector Lanes", stdout);
    for (int k = 0; k < KMRSIM_NUM_CONFIGS; ++k)
        std::printf(" %8u |", 1u << k);
    std::fputs("\n            ", stdout);
    print_repeated("----------+", KMRSIM_NUM_CONFIGS);
    std::fputs("\n", stdout);
    for (int opcode : opcode_rows)
        print_text_line(kmrsim::opcode_name(opcode), opcode_row_text(st, opcode));
    print_text_line("Total", total_row_text(st));
}

void print_dma_table(const kmrsim_stats_t &st)
{
    std::fputs("DMA CYCLES:\n", stdout);
    std::fputs("Bus width ", stdout);
    for (int k = 0; k < KMRSIM_NUM_CONFIGS; ++k)
        std::printf("%8d |", 1 << k);
    std::fputs("\n          ", stdout);
    print_repeated("---------+", KMRSIM_NUM_CONFIGS);
    std::fputs("\n          ", stdout);
    for (int k = 0; k < KMRSIM_NUM_CONFIGS; ++k)
        std::printf("%8u |", st.dma_cycles[k]);
    std::fputs("\n          ", stdout);
    print_repeated("---------+", KMRSIM_NUM_CONFIGS);
    std::fputs("\n", stdout);
}

}  // namespace

extern "C" void kmrsim_print_stats(void)
{
    const kmrsim_stats_t &st = kmrsim::sim().stats;
    print_instruction_block(st);
    print_dma_totals(st);
}

extern "C" void kmrsim_print_stats_extended(void)
{
    const kmrsim_stats_t &st = kmrsim::sim().stats;
    print_cycle_table(st);
    std::fputs("\n", stdout);
    print_instruction_block(st);
    std::fputs("\n", stdout);
    print_dma_table(st);
    print_dma_totals(st);
}

extern "C" kmrsim_stats_t kmrsim_get_stats(void)
{
    return kmrsim::sim().stats;
}

// Clears the counters, the regions' totals (open regions count on from
// zero) and the call-site profile; the DMA mode, the warnings switch and the
// profile switch keep their values.
extern "C" void kmrsim_reset_stats(void)
{
    kmrsim::sim().stats = kmrsim_stats_t{};
    kmrsim::reset_regions();
    kmrsim::reset_call_sites();
}

extern "C" void kmrsim_enable_warnings(void)
{
    kmrsim::sim().warnings_enabled = 1;
}

extern "C" void kmrsim_disable_warnings(void)
{
    kmrsim::sim().warnings_enabled = 0;
}
