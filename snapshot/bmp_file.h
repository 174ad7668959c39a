// Writing a snapshot as a BMP file: the 14-byte file header, the information
// header with its colour table, then the pixel rows, in three writes.
//
// The file appears at its path only when every step succeeded: the output
// writer has it written beside the target and renamed into place (a device
// or FIFO is written in place), so a failed save leaves neither a truncated
// picture nor a changed old one.
// The result says which step failed, so the Save command reports success
// only for a file that was really written. Runs on the caller's thread
// (the UI thread for Save, the main thread of velmo-cli).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "snapshot/bitmap_info.h"

enum class SnapshotStep {
  kNone,
  kDescribe,    // the bitmap description is unusable
  kAllocate,    // no memory for the pixel buffer
  kReadPixels,  // the rows do not match the information block
  kCreate,      // the file cannot be created
  kWrite,
  kClose,   // flushing or closing failed: the data may not be on disc
  kRename,  // the finished file cannot take the chosen name
};

// The step's name as the writer reports it ("GetObject", "GlobalAlloc",
// "GetDIBits", "CreateFile", "WriteFile", "CloseHandle", "rename").
const char* SnapshotStepName(SnapshotStep step);

struct SnapshotResult {
  SnapshotStep failedStep = SnapshotStep::kNone;
  int error = 0;  // errno of the failed call; 0 for steps that are not calls
  bool Succeeded() const { return failedStep == SnapshotStep::kNone; }
};

inline constexpr uint32_t kFileHeaderSize = 14;
inline constexpr uint16_t kBmpSignature = 0x4D42;  // "BM"

struct BitmapFileHeader {
  uint16_t bfType = kBmpSignature;
  uint32_t bfSize = 0;
  uint16_t bfReserved1 = 0;
  uint16_t bfReserved2 = 0;
  uint32_t bfOffBits = 0;
};

// From the information header as the pixel read left it.
BitmapFileHeader MakeFileHeader(const BitmapInfoHeader& info);

// The 14 header bytes at out, little-endian, packed.
void PutBitmapFileHeader(uint8_t* out, const BitmapFileHeader& header);

// The three writes to an open descriptor: file header, the first
// 40 + 4 x biClrUsed bytes of the information block (40 + 12 with
// BI_BITFIELDS: the masks), then pixels
// (biSizeImage bytes). Stops at the first failed write.
SnapshotResult WriteBmpParts(int fd, const BitmapInfoBlock& info, std::span<const uint8_t> pixels);

// Reads bitmap's pixels into a buffer of biSizeImage bytes (filling info's
// colour table) and writes the file at path, replacing any file there.
SnapshotResult WriteBmpFile(const std::string& path, BitmapInfoBlock& info,
                            const BitmapDescription& bitmap);

// CreateBitmapInfo, the pixel read and the three writes to fd, which the
// caller puts in place: for a run that writes its outputs together.
SnapshotResult WriteBitmapAsBmp(int fd, const BitmapDescription& bitmap);

// CreateBitmapInfo, then WriteBmpFile: what a capture does with its bitmap.
SnapshotResult SaveBitmapAsBmp(const BitmapDescription& bitmap, const std::string& path);
