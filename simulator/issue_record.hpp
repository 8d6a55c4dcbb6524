// The record of the instruction being issued: which entry point, called from
// where, with which opcode and shape, and which row the engine is on. Entry
// points and the engine keep it current with a few stores; the failure
// reports, the trace, the checker and the profiler read it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kmrsim.hpp"

namespace kmrsim {

struct issue_record {
    const char *entry;   // entry point name ("kmrsim_2D_VVWWS", "kmrsim_setup_mask", ...)
    const void *caller;  // return address of the entry point, in the program
    int op;  // the opcode as passed, which may be outside vinstr_t
    // Bytes side by side: an entry point sets all four with one store.
    uint8_t dim;   // 1, 2 or 3
    uint8_t form;  // kmrsim_form_t
    bool masked;
    bool acc;
    int32_t mat;  // matrix and row the engine is on
    int32_t row;
};

extern issue_record current_issue;

// Which operand of an instruction a range belongs to.
enum class operand_kind { dest, a, b };

// Records the entry point and its caller; called first by every entry point.
inline void enter(const char *entry, const void *caller)
{
    current_issue.entry = entry;
    current_issue.caller = caller;
}

// Names the caller address: "function (file:line)" when debug information
// is there, the function alone when only the symbol table is, else nothing
// beyond the address. Always ends with " [0x...]".
void describe_address(char *buf, size_t size, const void *address);

// Writes the context line of the current instruction to standard error,
// beginning with "Error: " (or "Warning: " when warning is set), with
// `what` (one phrase: which operand at which address) in front.
void print_issue_context(bool warning, const char *what);

// Writes "Error: <what>; called from <caller>" (or "Warning: ...") to
// standard error: the context of a call that is not an instruction (a
// register setting, a mask setup, a DMA request).
[[gnu::cold]] void print_call_context(bool warning, const char *what, const void *caller);

// An operand range of the current instruction fails the scratchpad check:
// prints the context line. The caller then runs the check, which aborts
// with the assertion report.
[[gnu::cold, gnu::noinline]] void report_operand_failure(operand_kind kind, uintptr_t a, int64_t len);

// "operand A at scratchpad+0x1f00, 256 bytes" (or at the mask memory, or
// at a host address outside both), and the name of an operand kind.
void describe_operand(char *buf, size_t size, const char *name, uintptr_t a, int64_t len);
const char *operand_name(operand_kind kind);


}  // namespace kmrsim
