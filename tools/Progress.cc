// File: Progress.cc
#include "tools/Progress.h"

#include <unistd.h>

#include <cstdio>

namespace kx9tool {

Progress::Progress(refdb::RefDatabase& db, std::string what, bool quiet, unsigned long long total)
    : m_db(db), m_what(std::move(what)), m_start(std::chrono::steady_clock::now()), m_last(m_start) {
  if (quiet || ::isatty(STDERR_FILENO) == 0) return;
  m_db.SetProgress([this](unsigned long long done, unsigned long long all) { Draw(done, all); }, total);
}

Progress::~Progress() {
  m_db.SetProgress(nullptr);
  if (m_shown) std::fputs("\r\033[K", stderr);
}

void Progress::Draw(unsigned long long done, unsigned long long total) {
  const auto now = std::chrono::steady_clock::now();
  if (now - m_start < std::chrono::seconds(1) || now - m_last < std::chrono::milliseconds(100)) return;
  m_last = now;
  m_shown = true;
  constexpr int kWidth = 30;
  if (total > 0) {
    const unsigned long long shown = done < total ? done : total;
    const int filled = static_cast<int>(shown * kWidth / total);
    std::fprintf(stderr, "\r%s [%.*s%*s] %3d%% %llu/%llu", m_what.c_str(), filled, "##############################",
                 kWidth - filled, "", static_cast<int>(shown * 100 / total), shown, total);
  } else {
    std::fprintf(stderr, "\r%s %llu", m_what.c_str(), done);
  }
  std::fflush(stderr);
}

}  // namespace kx9tool
