// Standard input, output and error closed at start (`>&-`) are opened on
// /dev/null, so that no file a run opens takes descriptor 0, 1 or 2 and
// gets the console text written into it.
#pragma once

void ReopenClosedStandardDescriptors();
