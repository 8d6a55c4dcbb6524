// Unmasked entry points with word sources: kmrsim_{acc_}{1D,2D,3D}_*W{B,H,W}{S,U}.
#include "entry_points.hpp"

KMRSIM_MODES_OF_SOURCE(KMRSIM_UNMASKED_ENTRIES, KMRSIM_DEFINE_ENTRY_, W)
