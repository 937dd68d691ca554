#pragma once

#include "tallow_version.h"

namespace tallow::app {
inline constexpr char kVersion[] = TALLOW_VERSION_STRING;
}
