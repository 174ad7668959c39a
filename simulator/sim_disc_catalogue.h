// The discs the simulator knows, by name: recordable DVDs of three quality
// classes with the ID bytes real discs carry (blanks and NULs around the
// IDs), write-speed tables with speeds outside the program's table, and the
// media the program must turn down (DVD±RW, CD-R, DVD-ROM, no profile).
#pragma once

#include <string_view>
#include <vector>

#include "simulator/sim_disc.h"

// In listing order.
const std::vector<SimDisc>& SimDiscCatalogue();

// nullptr when unknown.
const SimDisc* FindSimDisc(std::string_view name);
