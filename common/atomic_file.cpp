#include "common/atomic_file.h"
