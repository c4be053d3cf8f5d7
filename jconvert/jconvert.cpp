#include "jconvert/jconvert.h"
