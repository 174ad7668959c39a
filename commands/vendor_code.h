// The access code the supported drives expect in bytes 2 to 5 of every
// vendor-unique CDB. One constant, so a drive and the program can never
// disagree on it.
#pragma once

inline constexpr char kVendorAccessCode[5] = "VLMO";
