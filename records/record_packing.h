// How the history keeps a record: its JSON text deflated (zlib), behind the
// text's length. A run's samples repeat the same few keys thousands of
// times, so a record packs to a fifth of its text or less.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The packed bytes of a record's text.
std::string PackRecord(std::string_view text);

// The text back; false with *error for bytes that are not a packed record
// (cut short, damaged, or claiming more than a record may hold).
bool UnpackRecord(std::string_view packed, std::string* text, std::string* error);
