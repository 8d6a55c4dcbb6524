// Explicit instances of the engine: every (destination, computation,
// vector source) element-type triple an entry point or mask setup uses, in
// both signednesses. The entry points only declare run_engine, so the
// engine is compiled once per instance, spread over a few sources by the
// width of the computation type.
#pragma once

#include <cstdint>

#include "dispatch.hpp"
#include "engine.hpp"

namespace kmrsim {

template <typename D, typename S, typename Src>
void run_engine(int dim, int form, vinstr_t instr, void *dest, const void *A, const void *B, bool masked, bool acc)
{
    engine<D, S, Src>::run(dim, form, instr, dest, A, B, masked, acc);
}

}  // namespace kmrsim

// The instance of destination, computation and source widths (in bits),
// signed and unsigned.
#define KMRSIM_ENGINE_INSTANCE_(d, s, src, sign)                                              \
    template void kmrsim::run_engine<sign##int##d##_t, sign##int##s##_t, sign##int##src##_t>( \
        int, int, vinstr_t, void *, const void *, const void *, bool, bool);
#define KMRSIM_ENGINE_INSTANCE(d, s, src) KMRSIM_ENGINE_INSTANCE_(d, s, src, ) KMRSIM_ENGINE_INSTANCE_(d, s, src, u)
