// --drive all on a terminal: one line per drive, rewritten in place as its
// run goes (the drive, then its latest sample or verdict), with what the
// runs say on standard error printed above it. Main thread.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

class CDriveBoard {
 public:
  // labels: one per drive, "[N PRODUCT] ". errShares: standard error goes
  // to the same terminal, so its lines must not land inside the board.
  CDriveBoard(std::FILE* out, int columns, std::vector<std::string> labels, bool errShares);

  // A whole line drive's run printed on its standard output.
  void Update(size_t drive, const std::string& line);
  // How the drive's run ended, in place of whatever its line showed; what
  // the run prints after it does not replace it.
  void End(size_t drive, const std::string& text);
  // A line for standard error, printed above the board.
  void Say(std::FILE* err, const std::string& line);

 private:
  void Draw();
  void Erase();

  std::FILE* m_out;
  size_t m_width;
  std::vector<std::string> m_labels;
  std::vector<std::string> m_status;
  std::vector<bool> m_ended;
  bool m_errShares;
  bool m_drawn = false;
};

// Whether out can carry the board: a terminal that moves its cursor.
bool BoardFits(std::FILE* out);
