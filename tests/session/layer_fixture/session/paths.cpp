// Run support climbing to velmo-cli by a relative path.
#include "../cli/cli_options.h"
