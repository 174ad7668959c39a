#include "tests/support/test_paths.h"

namespace velmo_test {

const char* CliBinary() { return VELMO_CLI_BINARY; }
const char* AppBinary() { return VELMO_APP_BINARY; }
const char* SourceDir() { return VELMO_SOURCE_DIR; }
const char* ArtefactDir() { return VELMO_TEST_ARTEFACT_DIR; }

}  // namespace velmo_test
