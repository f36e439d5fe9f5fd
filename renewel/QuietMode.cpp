#include "QuietMode.h"

bool QuietMode = false;
