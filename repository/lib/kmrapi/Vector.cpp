#include "Vector.hpp"
