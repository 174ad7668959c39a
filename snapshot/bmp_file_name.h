// The name a saved snapshot gets: the chosen path with ".bmp" appended
// unless its last four characters are exactly ".bmp" (case-sensitive, so
// "TEFE.BMP" becomes "TEFE.BMP.bmp", and the default "TEFE" "TEFE.bmp").
#pragma once

#include <string>

std::string WithBmpExtension(const std::string& path);
