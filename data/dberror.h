#pragma once

// The data layer's error type lives in core, beside every other error type.
#include "core/error.h"
