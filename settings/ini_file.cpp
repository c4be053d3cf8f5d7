#include "settings/ini_file.h"
