#pragma once

#include "core/error.h"

/// An error raised by the data layer.
class EDatabaseError : public EError {
public:
    using EError::EError;
};
