// A recorded run drawn on a scan chart as the run drew it live: the curves
// cleared, the limit lines shown, then for every sample its two points and a
// refresh. The chart extends each curve by one segment a refresh, so a run
// drawn with one refresh at the end would show a single segment.
#pragma once

#include "console/scan_run.h"
#include "records/scan_record.h"

// The limit lines are the viewer's choice (the window's TE and FE boxes),
// not the record's. A Smart Scan's record has no samples: its chart stays
// empty.
void DrawRecordedRun(const ScanRecord& record, bool showTeLimit, bool showFeLimit,
                     ScanChart& chart);
