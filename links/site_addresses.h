// The maker's two web pages that the About dialog and the unsupported-drive
// notice link to. Reserved example domains until the real sites exist.
#pragma once

inline constexpr char kGlobalSiteAddress[] = "https://www.example.com/velmo/";
inline constexpr char kSupportSiteAddress[] = "https://support.example.com/velmo/";
