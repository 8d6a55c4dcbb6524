/* Debugging aids of the simulator: an execution trace and a checker for
 * mistakes that the processor would expose but a simulation can hide. Both
 * are off until switched on by these calls; while off they cost nothing.
 * Compiles as C11 and as C++17. */
#ifndef KMR_DIAG_H
#define KMR_DIAG_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* What the trace records: one line per event of each kind chosen. */
#define KMRSIM_TRACE_INSTRUCTIONS 0x01u /* every instruction issued */
#define KMRSIM_TRACE_DMA 0x02u          /* DMA requests and their completion */
#define KMRSIM_TRACE_MASKS 0x04u        /* mask setups and refinements */
#define KMRSIM_TRACE_REGISTERS 0x08u    /* vector length, rows, matrices, strides */
#define KMRSIM_TRACE_CALLERS 0x10u      /* add the program's call site to each line */
#define KMRSIM_TRACE_ALL 0x1Fu

/* Writes the chosen events to out, one line each, until called again; a
 * null out or an empty what switches the trace off. The stream is flushed
 * when the trace is switched off or changed. */
void kmrsim_trace(FILE *out, unsigned what);

/* What the checker looks for. */
#define KMRSIM_CHECK_UNWRITTEN 0x01u   /* reads of scratchpad bytes never written */
#define KMRSIM_CHECK_UNALLOCATED 0x02u /* operands beyond the allocator's free pointer */
#define KMRSIM_CHECK_FLAGS 0x04u       /* flags read as inputs that no instruction wrote */
#define KMRSIM_CHECK_FILL 0x08u        /* fill the scratchpad with a pattern at initialisation */
#define KMRSIM_CHECK_ALL 0x0Fu

/* Switches the checks in what on and the others off (0: all off). Findings
 * are "Warning: " lines on standard error, one per call site and kind; the
 * repeats are counted and summed up by kmrsim_check_summary, which also runs
 * when the program exits. KMRSIM_CHECK_UNWRITTEN and KMRSIM_CHECK_FILL take
 * effect at the next kmrsim_init: call this first. */
void kmrsim_check(unsigned what);

/* Findings so far (every occurrence, reported or counted). */
unsigned long kmrsim_check_findings(void);

/* Prints the number of findings and call sites on standard error, if there
 * were any, and starts counting again. */
void kmrsim_check_summary(void);

#ifdef __cplusplus
}
#endif

#endif /* KMR_DIAG_H */
