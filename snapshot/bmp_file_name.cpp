#include "snapshot/bmp_file_name.h"

std::string WithBmpExtension(const std::string& path) {
  if (path.ends_with(".bmp")) return path;
  return path + ".bmp";
}
