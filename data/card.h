#pragma once

// A card and its fields belong to core; the field map stays here with the data layer.
#include "core/card.h"
#include "fieldmap.h"
