// Every output file of a run (log, trace, CSV, JSON, chart, the window's
// picture) goes through here, so that no output ever replaces what it should
// have written into:
//
// - a regular file, or a name not yet taken: written to an unnamed file in
//   the same folder, flushed, then given the name (keeping an old file's mode
//   and, where allowed, its owner), so it appears whole or not at all;
// - a symlink: followed, and its target written as above;
// - a character or block device, a FIFO or a socket: opened and written in
//   place, never unlinked or renamed; a FIFO nobody reads is waited on (and
//   the wait said) until a reader opens it or a stop comes;
// - in a folder every user may write into that is sticky (/tmp), a symlink,
//   file or FIFO of another user (not this one, not the folder's owner):
//   refused, whatever the kernel's own protections;
// - "-", /dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N: the open
//   descriptor itself, written in place;
// - a folder: refused.
//
// Threads: an object is used by one thread at a time.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

enum class OutputKind {
  kReplaced,  // regular or missing file
  kInPlace,   // device, FIFO, socket or open descriptor
};

struct OutputTarget {
  std::string given;  // as the user wrote it
  std::string path;   // symlinks followed
  OutputKind kind = OutputKind::kReplaced;
  int descriptor = -1;  // "-" and the descriptor names: the descriptor meant
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
};

// Where path leads, checked for writing (for a replaced file: that its folder
// takes a new file and an old file may be written). False with *error as
// "PATH: reason". Nothing is created or changed.
bool ResolveOutput(const std::string& path, OutputTarget* target, std::string* error);

// True when both name one file: the same device and inode, or the same
// folder and name for files not yet there.
bool SameOutput(const OutputTarget& a, const OutputTarget& b);

// The first two of paths (empty ones skipped) that lead to one file, as
// indexes into paths; nothing when all differ. Paths that do not resolve are
// left to the writer that opens them.
std::optional<std::pair<size_t, size_t>> FindSameOutput(const std::vector<std::string>& paths);

// True when path is, or leads to, this process's standard output: by name
// ("-", /dev/stdout, /dev/fd/1, /proc/self/fd/1, a symlink to one), or as
// the file, device or pipe descriptor 1 is open on.
bool IsStandardOutput(const std::string& path);

// Whether folder takes a new file, for outputs whose names are only known
// later (a report's default name, a watch's reports). False with *error as
// "FOLDER: reason". Nothing is created.
bool CheckOutputFolder(const std::string& folder, std::string* error);

// All of data to fd; false with errno. A write a signal broke off goes on,
// unless the signal was a stop (then EINTR).
bool WriteOutputBytes(int fd, const void* data, size_t size);

// Said when an output is a FIFO nobody has opened for reading, as its wait
// would start: given the output's name as the user wrote it; true to wait
// for a reader, false to fail the open at once (ENXIO, "GIVEN: nobody is
// reading this FIFO"), for a window that must never block on an output.
// Called on the thread that opens the output.
using OutputReaderWait = std::function<bool(const std::string& given)>;
// What every later open does; empty: waits without a word.
void SetOutputReaderWait(OutputReaderWait tell);

// A stopping signal came (called from the handler: async-signal-safe). From
// then on an output that waits for a FIFO's reader, or a write the signal
// broke off, gives up with EINTR instead of waiting on; writes that do not
// wait go on, so a stopped run still leaves its files.
void StopWaitingForOutputs();
// Waiting resumes (the stop has been dealt with).
void ResumeWaitingForOutputs();

// A file written whole and then put in place.
class COutputFile {
 public:
  enum class Step { kNone, kOpen, kWrite, kFlush, kRename };

  COutputFile() = default;
  ~COutputFile();  // uncommitted: discarded
  COutputFile(const COutputFile&) = delete;
  COutputFile& operator=(const COutputFile&) = delete;

  // Resolves path and opens what is written: the unnamed file beside a
  // replaced target, or the target itself. A path that cannot be written
  // is known here, before a long run starts.
  bool Open(const std::string& path, std::string* error);
  bool IsOpen() const { return m_fd >= 0; }
  bool InPlace() const { return m_target.kind == OutputKind::kInPlace; }
  const std::string& Path() const { return m_target.given; }
  // For writers that write themselves (the BMP writer); the data goes to the
  // target only at Commit unless InPlace().
  int Descriptor() const { return m_fd; }

  bool Write(const void* data, size_t size, std::string* error);
  bool Write(const std::string& text, std::string* error) {
    return Write(text.data(), text.size(), error);
  }
  // Everything written is on the disk; the target has not changed yet.
  bool Flush(std::string* error);
  // Flushes when not done and puts the file in place. False: the target is
  // as it was (in place: as far as it was written).
  bool Commit(std::string* error);
  bool Commit(const std::string& text, std::string* error) {
    return Write(text, error) && Commit(error);
  }
  void Discard();

  // The step that failed last, and its errno.
  Step FailedStep() const { return m_failedStep; }
  int FailedError() const { return m_failedError; }

 private:
  bool Fail(Step step, std::string* error);

  OutputTarget m_target;
  int m_fd = -1;
  std::string m_tempPath;  // a named temporary file, where the folder has no unnamed ones
  bool m_flushed = false;
  Step m_failedStep = Step::kNone;
  int m_failedError = 0;
};

// An output written as it goes (the log, the trace): the target opened by the
// same rules, a regular file emptied in place (so it keeps its mode, owner
// and links). The descriptor, or -1 with *error.
int OpenOutputStream(const std::string& path, std::string* error);

// OpenOutputStream of path when called, for a run that opens its log as it
// starts: the descriptor, or -1 with errno.
std::function<int()> OutputStreamOpener(const std::string& path);
