#pragma once
// Results with reasons and the system's reasons, from the platform layer below the framework.

#include "platform/Result.h"
#include "platform/SystemError.h"
