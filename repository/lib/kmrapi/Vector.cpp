// The one definition of the vector expression library: the count of
// masked regions alive.
#include "Vector.hpp"

int vector_mask_obj::nested = 0;
