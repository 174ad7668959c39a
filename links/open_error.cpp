#include "links/open_error.h"

#include <cstdio>

#include "links/link_platform.h"

std::string OpenErrorReason(int code) {
  switch (code) {
    case kOpenOutOfResources: return "The operating system is out\nof memory or resources.";
    case kOpenFileNotFound: return "The specified file was not found.";
    case kOpenPathNotFound: return "The specified path was not found.";
    case kOpenAccessDenied: return "The operating system denied\naccess to the specified file.";
    case kOpenOutOfMemory: return "There was not enough memory to complete the operation.";
    case kOpenBadFormat:
      return "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
    case kOpenSharingViolation: return "A sharing violation occurred. ";
    case kOpenAssociationIncomplete: return "The filename association is\nincomplete or invalid.";
    case kOpenDdeTimeout:
      return "The DDE transaction could not\nbe completed because the request timed out.";
    case kOpenDdeFailed: return "The DDE transaction failed.";
    case kOpenDdeBusy:
      return "The DDE transaction could not\nbe completed because other DDE transactions\n"
             "were being processed.";
    case kOpenNoAssociation:
      return "There is no application associated\nwith the given filename extension.";
    case kOpenDllNotFound: return "The specified dynamic-link library was not found.";
    default: break;
  }
  char text[64];
  std::snprintf(text, sizeof text, "Unknown Error (%d) occurred.", code);
  return text;
}

std::string OpenErrorMessage(int code) { return "Can't open link:\n\n" + OpenErrorReason(code); }
