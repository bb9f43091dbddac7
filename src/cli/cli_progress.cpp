#include "cli/cli_progress.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>

namespace fw::cli {

namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

// Ctrl+C, and the requests to end that a service manager or a closed terminal send. (Windows
// has SIGINT and SIGTERM only; a closed console window ends the process there.)
#ifdef SIGHUP
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
#else
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGINT};
#endif

extern "C" void OnCliInterrupt(int) {
  interrupted = true;
}

}  // namespace

void ProgressBar::Show(std::uint32_t done, std::uint32_t total) {
  if (!visible_ || total == 0)
    return;
  done = std::min(done, total);
  constexpr int kWidth = 40;
  const int filled = static_cast<int>(std::uint64_t{done} * kWidth / total);
  const int percent = static_cast<int>(std::uint64_t{done} * 100 / total);
  if (drawn_ && percent == percent_)
    return;
  percent_ = percent;
  char line[96];
  std::snprintf(line, sizeof line, "\r[%.*s%*s] %3d%%  %u/%u", filled,
                "########################################", kWidth - filled, "", percent, done,
                total);
  err_ << line << std::flush;
  drawn_ = true;
}

void ProgressBar::Clear() {
  if (drawn_)
    err_ << "\r\033[K" << std::flush;
  drawn_ = false;
  percent_ = -1;
}

// A signal the process was started to ignore (nohup, a background job) stays ignored.
InterruptGuard::InterruptGuard() {
  interrupted = false;
  for (int i = 0; i < kSignalCount; ++i) {
    previous_[i] = std::signal(kStopSignals[i], OnCliInterrupt);
    if (previous_[i] == SIG_IGN)
      std::signal(kStopSignals[i], SIG_IGN);
  }
}

// In reverse order, so that a signal listed twice gets its first previous handler back.
InterruptGuard::~InterruptGuard() {
  for (int i = kSignalCount - 1; i >= 0; --i)
    std::signal(kStopSignals[i], previous_[i]);
}

bool InterruptGuard::Requested() const {
  return interrupted.load();
}

}  // namespace fw::cli
