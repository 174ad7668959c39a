// A reader that climbs the layers.
#include "files/input_file.h"
#include "results/history.h"
