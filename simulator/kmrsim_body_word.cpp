#include "kmrsim.hpp"
