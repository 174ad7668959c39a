// The name a report gets when the user asks for a default one:
// velmo-YYYYMMDD-HHMMSS-MID-SPEED.ext, safe on any file system.
#pragma once

#include <string>
#include <string_view>

struct ScanRecord;

// One part of a file name with everything some file system refuses or
// misreads replaced by '_': path separators, reserved characters (<>:"/\|?*),
// control and non-ASCII bytes, spaces, and dots or dashes at the start or
// end. Runs of '_' collapse to one; the part is cut to max bytes; an empty
// result becomes "unknown".
std::string SafeFileNamePart(std::string_view text, size_t max = 40);

// ext without its dot: "png", "pdf", "html". The date and time come from the
// record's start time as written (its own offset); a Smart Scan names its
// speed "smart". A comparison of runs (> 1) is named after its first run
// with "-compareN" after the speed.
std::string DefaultReportFileName(const ScanRecord& record, std::string_view ext, size_t runs = 1);
