// A run opening its own outputs through session/: a cycle.
#include "session/output_file.h"
#include "chart/scan_series.h"
// Siblings of one layer stand apart.
#include "simulator/sim_drive.h"
