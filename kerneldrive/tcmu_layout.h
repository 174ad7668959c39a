// Where the fields of the kernel's command ring are. The kernel header that
// defines them is C only (its inline helpers do not compile as C++), so
// tcmu_layout.c takes the numbers from it and the C++ side reads them here.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct TcmuLayout {
  size_t mailboxSize;
  size_t cmdrOff, cmdrSize, cmdHead, cmdTail;                    // in the mailbox
  size_t headerSize, cmdId, uflags;                              // in an entry's header
  size_t iovCount, iovBidiCount, iovDifCount, cdbOff, iovArray;  // request
  size_t scsiStatus, senseBuffer, senseSize;                     // response
  size_t entrySize, iovSize;
  uint32_t opMask, opPad, opCmd, opTmr;
  uint32_t alignSize;
  uint8_t unknownOpFlag;
  uint16_t mailboxVersion;
};

extern const struct TcmuLayout kTcmuLayout;

#ifdef __cplusplus
}
#endif
