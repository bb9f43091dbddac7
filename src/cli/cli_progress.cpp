#include "cli/cli_progress.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>

namespace fw::cli {

namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

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
  std::fprintf(stderr, "\r[%.*s%*s] %3d%%  %u/%u", filled,
               "########################################", kWidth - filled, "", percent, done,
               total);
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressBar::Clear() {
  if (drawn_)
    std::fputs("\r\033[K", stderr);
  drawn_ = false;
  percent_ = -1;
}

InterruptGuard::InterruptGuard() {
  interrupted = false;
  previous_ = std::signal(SIGINT, OnCliInterrupt);
}

InterruptGuard::~InterruptGuard() {
  std::signal(SIGINT, previous_);
}

bool InterruptGuard::Requested() const {
  return interrupted.load();
}

}  // namespace fw::cli
