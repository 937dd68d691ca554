// SIGINT and SIGTERM during a run: the handler only raises a flag, which the
// reader checks between reads, so the run stops cleanly at a line boundary
// and removes what it must. Reads are not restarted after the signal, so a
// reader waiting on a terminal or a pipe wakes up too.
#pragma once

#include <atomic>

namespace tallow::app {

class InterruptWatch {
 public:
  InterruptWatch();   // catches both signals
  ~InterruptWatch();  // restores what was there before
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  const std::atomic<bool>* flag() const;
  bool interrupted() const;
  // 130 after SIGINT, 143 after SIGTERM, 0 when no signal came.
  int exitStatus() const;
};

}  // namespace tallow::app
