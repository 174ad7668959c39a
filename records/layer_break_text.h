// A dual-layer disc's own layer break beside the fixed one the sample
// positions use: the words every front end and report gives it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// "sector 2084864 (2048 sectors before sector 2086912, where the sample
// positions place it)", "sector 2086912", or "unknown" when the disc did
// not say.
std::string LayerBreakText(std::optional<int32_t> layer0Sectors);

// The warning for a disc whose layer 1 starts elsewhere than the sample
// positions assume; empty when it starts there or is unknown.
std::string LayerBreakWarning(std::optional<int32_t> layer0Sectors);
