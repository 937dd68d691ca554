#pragma once

namespace tallow::app {
inline constexpr char kVersion[] = "0.1.0";
}
