// Engine instances computing in 32 bits with narrower results: byte and
// half-word results (and masks) from word sources.
#include "engine_instances.hpp"

KMRSIM_ENGINE_INSTANCE(8, 32, 32)
KMRSIM_ENGINE_INSTANCE(16, 32, 32)
