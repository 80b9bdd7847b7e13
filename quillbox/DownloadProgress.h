#pragma once

#include <cstdint>

#include "foundation/StringClass.h"

// The download command's progress line, ending in a carriage return so that
// the next one overwrites it on a terminal. Without a total there is no
// percentage; the percentage is formed in 64 bits, so it stays right for
// sizes whose product with 100 does not fit 32 bits.
StringClass FormatDownloadProgress(uint32_t received, uint32_t total);
