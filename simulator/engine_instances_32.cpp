// Engine instances computing in 32 bits with word results: from word, byte
// and half-word sources.
#include "engine_instances.hpp"

KMRSIM_ENGINE_INSTANCE(32, 32, 32)
KMRSIM_ENGINE_INSTANCE(32, 32, 8)
KMRSIM_ENGINE_INSTANCE(32, 32, 16)
