#include "ui/QuietMode.h"

bool QuietMode = false;
