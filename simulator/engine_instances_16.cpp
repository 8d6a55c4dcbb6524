// Engine instances computing in 16 bits: half-word results, half-word
// results from byte sources, byte results and masks from half-word sources.
#include "engine_instances.hpp"

KMRSIM_ENGINE_INSTANCE(16, 16, 16)
KMRSIM_ENGINE_INSTANCE(16, 16, 8)
KMRSIM_ENGINE_INSTANCE(8, 16, 16)
