// Where a test finds the programs it runs and the files it reads. Set for
// each test binary in test_paths.cpp alone, so that no other test file holds
// a path of this checkout: those compile the same in any clone, and the
// compiler cache serves them from any folder.
#pragma once

namespace velmo_test {

// velmo-cli and velmo as built beside the tests ("" when the build has no
// window).
const char* CliBinary();
const char* AppBinary();
// The checkout the tests were built from.
const char* SourceDir();
// Where window tests leave pictures for a person to look at.
const char* ArtefactDir();

}  // namespace velmo_test
