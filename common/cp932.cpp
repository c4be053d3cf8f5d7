#include "common/cp932.h"
