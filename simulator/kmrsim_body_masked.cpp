// Masked entry points: kmrsim_masked_{acc_}1D_*. They run the same chain as
// the unmasked family with the mask switch on; the row length is the mask's
// length and disabled elements take no part.
#include "entry_points.hpp"

#define KMRSIM_ENTRY_X_ KMRSIM_DEFINE_MASKED_ENTRY_
KMRSIM_MODE_LIST(KMRSIM_MASKED_ENTRY_)
#undef KMRSIM_ENTRY_X_
