// File: Progress.h
//
// Feedback on long work: a progress bar on stderr, fed by the database's
// count of the elements and rows it has read or written.
#pragma once

#include <chrono>
#include <string>

#include "refdb/RefDatabase.h"

namespace kx9tool {

// While it lives, draws `what` and how far `db` has come on stderr, once the
// work has run about a second; nothing with `quiet` or when stderr is not a
// terminal. The line is cleared when it goes. `total`: what the count will
// reach, for a bar (0: not known, the count alone is shown).
class Progress {
 public:
  Progress(refdb::RefDatabase& db, std::string what, bool quiet, unsigned long long total = 0);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

 private:
  void Draw(unsigned long long done, unsigned long long total);

  refdb::RefDatabase& m_db;
  std::string m_what;
  bool m_shown = false;
  std::chrono::steady_clock::time_point m_start;
  std::chrono::steady_clock::time_point m_last;
};

}  // namespace kx9tool
