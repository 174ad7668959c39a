// A run's stable id: a UUID made when the run starts, kept in its record and
// in every history that holds it, so that a lab's server keeps each run once
// however often it is pushed or imported.
#pragma once

#include <string>

// A random (version 4) UUID in its usual text form, lower case.
std::string NewRunId();

// The id of a run kept before runs had one: worked out from what identifies
// it (its start, drive and disc), so that every history that migrates or
// imports the same run gives it the same id. A name-based (version 8) UUID.
std::string DerivedRunId(const std::string& startTime, const std::string& drive,
                         const std::string& node, const std::string& discType,
                         const std::string& manufacturerId);

// True for the text form of a UUID (8-4-4-4-12 hexadecimal digits).
bool IsRunId(const std::string& text);
