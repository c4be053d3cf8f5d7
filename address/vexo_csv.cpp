#include "address/vexo_csv.h"
