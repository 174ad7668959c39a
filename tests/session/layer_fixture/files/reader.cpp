// A reader that climbs the layers.
#include "files/input_file.h"
#include "history/history.h"
