// Reading a file a user named (a scan record, velmo.conf, a recording, a
// history import) without trusting what is there: only a regular file is
// read, never more than a cap, and nothing that is not a file (a FIFO, a
// device, a socket, a folder) can block the reader or fill memory.
//
// Any thread may call it.
#pragma once

#include <cstddef>
#include <string>

enum class InputFileError {
  kNone,
  // No such file (nor folder on the way). velmo-cli exits 66 for it.
  kMissing,
  // Nothing readable there: not permitted, an I/O error, or not a regular
  // file. velmo-cli exits 66 for it (no input).
  kUnreadable,
  // A regular file, but larger than the reader accepts. velmo-cli exits 65
  // for it (not data this program reads).
  kTooLarge,
};

// Opens path for reading when it is a regular file, with the checks
// ReadInputFile makes (nothing else is opened in a way that could block or
// act): the open descriptor, which the caller closes, or -1 with *kind and
// *message as ReadInputFile gives them. For a reader that takes a file a
// piece at a time.
int OpenInputFile(const std::string& path, InputFileError* kind, std::string* message);

// Reads the whole of path into *text when it is a regular file of at most
// maxBytes. Otherwise false, *kind says which kind of failure, and *message
// is one line naming the file: "PATH: is a FIFO, not a file",
// "PATH: too large (N bytes, more than M)", "PATH: no such file",
// "PATH: cannot be read (reason)".
bool ReadInputFile(const std::string& path, size_t maxBytes, std::string* text,
                   InputFileError* kind, std::string* message);
