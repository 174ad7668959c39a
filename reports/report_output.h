// A report file: its format from the name's extension (or the option that
// named it), a default name where the user asked for one, and the one place
// report bytes are written, through the output writer (so "-" is standard
// output, and a device or FIFO is written in place).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "records/scan_record.h"
#include "reports/paper_size.h"
#include "reports/report_format.h"
#include "session/output_file.h"

class CReportOutput {
 public:
  // path: a file; "-" for standard output; an existing directory for the
  // default name inside it (known at Write, from the record).
  CReportOutput(std::string path, ReportFormat format)
      : m_path(std::move(path)), m_format(format) {}

  // Claims the file before a long run; false with *error if it cannot be
  // written. For a default name, the folder is checked to take a new file.
  bool Open(std::string* error);
  // Renders the report of records (several: a comparison) and puts it in
  // place; *written gets the file's name ("-" for standard output).
  bool Write(const std::vector<ScanRecord>& records, PaperSize paper, std::string* written,
             std::string* error);

  const std::string& Path() const { return m_path; }
  ReportFormat Format() const { return m_format; }
  // The path is an existing folder: the default name goes inside it.
  bool IsDirectory() const;
  // After a failed Open or Write: the errno of the file's failed step (0 for
  // none), so that a reader gone from a pipe can be told from a full disk.
  int FailedError() const { return m_file.FailedError(); }

 private:
  std::string m_path;
  ReportFormat m_format;
  COutputFile m_file;
};

// What scan --report takes: a file name with a report extension, or just the
// extension for the default name in the current folder. None with *error
// for anything else.
std::unique_ptr<CReportOutput> ReportOutputFor(const std::string& value, std::string* error);
