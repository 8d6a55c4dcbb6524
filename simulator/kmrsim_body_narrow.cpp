// Unmasked entry points with byte and half-word sources:
// kmrsim_{acc_}{1D,2D,3D}_*{B,H}{B,H,W}{S,U}.
#include "entry_points.hpp"

#define KMRSIM_ENTRY_X_ KMRSIM_DEFINE_UNMASKED_ENTRY_
KMRSIM_MODES_SRC_(KMRSIM_UNMASKED_ENTRY_, B)
KMRSIM_MODES_SRC_(KMRSIM_UNMASKED_ENTRY_, H)
#undef KMRSIM_ENTRY_X_
