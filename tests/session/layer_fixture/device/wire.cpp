// The device layer on the commands above it: a cycle.
#include "commands/drive_commands.h"
