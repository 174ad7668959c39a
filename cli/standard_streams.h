// Standard output and error, checked once as velmo-cli ends: a full disk
// or a closed pipe under them must not pass for a run that went well.
#pragma once

#include <cstdio>

// Flushes err, flushes and closes out, and returns the code velmo-cli
// exits with, given the command's own code:
// - out failed (now or at an earlier write): "velmo-cli: standard output:
//   REASON" on err (the system's text; "write error" when it kept none,
//   as for a regular file that failed before the end); a command that went through (0, or 1: not recommended)
//   exits kExitStdoutFailed, one that failed keeps its own code;
// - out's reader went away (EPIPE): nothing said, and 128 + SIGPIPE for a
//   command that went through, as the signal would have ended it;
// - err failed: nobody can be told, but a command that went through exits
//   kExitStdoutFailed (128 + SIGPIPE for a closed pipe) all the same.
// SIGPIPE is ignored meanwhile, so that a closed pipe answers EPIPE.
int FinishStandardStreams(int code, std::FILE* out, std::FILE* err);
