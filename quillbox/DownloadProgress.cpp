#include "quillbox/DownloadProgress.h"

// The byte counts are unsigned: printed as signed numbers, sizes of 2 GiB and
// more would show as negative.
StringClass FormatDownloadProgress(uint32_t received, uint32_t total) {
    if (total == 0) {
        return FormatString("Progress: %u / %u bytes\r", received, total);
    }
    const int32_t percentage = static_cast<int32_t>(static_cast<uint64_t>(received) * 100 / total);
    return FormatString("Progress: %u / %u bytes (%d%%)\r", received, total, percentage);
}
