#include "common/error_guard.h"
