// Unmasked entry points with word sources: kmrsim_{acc_}{1D,2D,3D}_*W{B,H,W}{S,U}.
#include "entry_points.hpp"

#define KMRSIM_ENTRY_X_ KMRSIM_DEFINE_UNMASKED_ENTRY_
KMRSIM_MODES_SRC_(KMRSIM_UNMASKED_ENTRY_, W)
#undef KMRSIM_ENTRY_X_
