// Engine instances computing in 8 bits: byte instructions and byte masks.
#include "engine_instances.hpp"

KMRSIM_ENGINE_INSTANCE(8, 8, 8)
