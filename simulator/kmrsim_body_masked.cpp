// Masked entry points: kmrsim_masked_{acc_}1D_*. They run the same chain as
// the unmasked family with the mask switch on; the row length is the mask's
// length and disabled elements take no part.
#include "entry_points.hpp"

KMRSIM_MODE_LIST_WITH(KMRSIM_MASKED_ENTRIES, KMRSIM_DEFINE_ENTRY_)
