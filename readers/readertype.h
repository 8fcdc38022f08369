#pragma once

#include <cstdint>

/// The reader a session talks to. The values are the ones settings files and the
/// production record keep (1 FEIG, 2 R321).
enum class ReaderType : uint8_t { None = 0, Feig = 1, R321 = 2 };
