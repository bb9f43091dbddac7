// What the long commands (`create`, `prepare`) share while they write pages: a progress bar on
// the error stream and Ctrl+C (or a request to terminate) as a request to stop.
#pragma once

#include <cstdint>
#include <ostream>

namespace fw::cli {

// A bar with the percentage and the page counts, drawn on one line of the error stream and
// redrawn only when its percentage moves. Invisible when that stream is no terminal. Cleared when
// it goes.
class ProgressBar {
 public:
  ProgressBar(std::ostream& err, bool visible) : err_(err), visible_(visible) {}
  ~ProgressBar() { Clear(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void Show(std::uint32_t done, std::uint32_t total);
  // Takes the bar off its line, so that a message starts on a line of its own.
  void Clear();

 private:
  std::ostream& err_;
  bool visible_;
  bool drawn_ = false;
  int percent_ = -1;
};

// While it lives, Ctrl+C (SIGINT), SIGTERM and SIGHUP do not kill the process but set a flag that
// the page writing looks at before every block, so that the partial file is deleted; the
// previous handlers come back when it goes. Its holder prints and flushes the closing message
// before it goes, so that a signal after a completed file cannot cut that message off.
class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  // Whether one of the signals came since the guard was made.
  bool Requested() const;

 private:
  static constexpr int kSignalCount = 3;
  void (*previous_[kSignalCount])(int);
};

}  // namespace fw::cli
