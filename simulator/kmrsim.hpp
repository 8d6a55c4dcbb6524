// Shared internal declarations of the simulator: the state, the assertion
// that stays active in every build type, and the small routines that every
// instruction engine uses (defined once, in state.cpp and registers.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "kmr_sim.h"

extern "C" void __assert_fail(const char *assertion, const char *file, unsigned int line, const char *function) noexcept
    __attribute__((__noreturn__));

namespace kmrsim {
// Flushes standard output, then reports a failed assertion like a standard
// assertion and aborts: what the program printed before the failure is not
// lost with the abort.
[[noreturn, gnu::cold]] void assertion_failed(const char *expr, const char *file, unsigned line,
                                               const char *function) noexcept;
}  // namespace kmrsim

// Checks an invariant in every build type (NDEBUG or not) and reports a
// violation like a standard assertion, with the given expression and
// function texts.
#define KMRSIM_ASSERT(cond, expr_text, func_text)                                                 \
    ((cond) ? static_cast<void>(0)                                                                \
            : kmrsim::assertion_failed((expr_text), __FILE__, static_cast<unsigned>(__LINE__), \
                                       (func_text)))

// For the small steps of the engine that run once per lane group: a call
// would cost as much as the step.
#define KMRSIM_ALWAYS_INLINE __attribute__((always_inline)) inline
// The same for a lambda, written after its parameter list.
#define KMRSIM_ALWAYS_INLINE_LAMBDA __attribute__((always_inline))

namespace kmrsim {

// The single simulator state; get_the_kmrsim() returns its address.
extern kmr_sim_t global_kmrsim;

inline kmr_sim_t &sim()
{
    return global_kmrsim;
}

// Lane count field of custom opcode VCUSTOM0 + k (k in 0..15).
short &custom_lanes(kmr_tqm_t &tqm, int k);

// Sign-extends a stride register value from the width of its wrap mask.
int32_t sign_extend_stride(uint32_t value, uint32_t mask);

// Checks [sp_ptr, sp_ptr + len) like verify_sp_ptr, with a length of any
// size (DMA requests). Reports with the function text of verify_sp_ptr.
void verify_sp_range(const void *sp_ptr, int64_t len);

// Whether [a, a + len) passes that check (without stopping the program).
bool range_passes(uintptr_t a, int64_t len);

// The mnemonic of an opcode ("VADD"); null outside 0 .. MAX_INSTR_VAL.
const char *opcode_name(int opcode);

// Frees every queued DMA request without performing it and empties the
// queue (used when the memories the requests refer to are released).
void drop_dma_queue();

// Whether [a, a + len) may touch a queued DMA transfer (false for an empty
// queue): when it cannot, completing DMA over any part of it does nothing.
bool dma_may_touch(uintptr_t a, uintptr_t len);

}  // namespace kmrsim

// Lane count of an opcode: vector_lanes for 0..23, the custom lane count
// for 24..39, -1 otherwise.
int lanes_for_instruction(int instr);

// True when p lies in [mask_memory, mask_memory + 4 * max_masked_vector_length).
bool mask_memory_contains(const void *p);

// Aborts unless [sp_ptr, sp_ptr + len) lies in the scratchpad or the mask memory.
void verify_sp_ptr(void *sp_ptr, int len);

// Completes the queued DMA that must land before [sp_ptr, sp_ptr + len) is
// touched. Installed as the state's dma_until_hook.
void _internal_do_dma_until(void *sp_ptr, size_t len);

// Fresh mask setup (is_masked false) or refinement of the current mask.
void kmrsim_masked_setup_common(kmrsim_vmode_t mode, vinstr_t instr, void *src, bool is_masked);
