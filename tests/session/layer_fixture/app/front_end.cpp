// A window file that reaches into velmo-cli: check_layers.sh must refuse it.
#include "cli/cli_options.h"
