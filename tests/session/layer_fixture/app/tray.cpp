// The window straight on the simulator: check_layers.sh must refuse it.
#include "simulator/sim_drive.h"
