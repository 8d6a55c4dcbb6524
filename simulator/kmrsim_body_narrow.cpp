// Unmasked entry points with byte and half-word sources:
// kmrsim_{acc_}{1D,2D,3D}_*{B,H}{B,H,W}{S,U}.
#include "entry_points.hpp"

KMRSIM_MODES_OF_SOURCE(KMRSIM_UNMASKED_ENTRIES, KMRSIM_DEFINE_ENTRY_, B)
KMRSIM_MODES_OF_SOURCE(KMRSIM_UNMASKED_ENTRIES, KMRSIM_DEFINE_ENTRY_, H)
