#include "kmr_api.h"
