#include "app/interrupt.h"

#include <csignal>

namespace tallow::app {
namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<int> g_signal{0};
struct sigaction g_previousInt;
struct sigaction g_previousTerm;

static_assert(std::atomic<bool>::is_always_lock_free, "the handler may only touch lock-free atomics");

extern "C" void OnInterrupt(int signal) {
  g_signal.store(signal, std::memory_order_relaxed);
  g_interrupted.store(true, std::memory_order_relaxed);
}

}  // namespace

InterruptWatch::InterruptWatch() {
  g_interrupted.store(false);
  g_signal.store(0);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked read returns EINTR
  sigaction(SIGINT, &action, &g_previousInt);
  sigaction(SIGTERM, &action, &g_previousTerm);
}

InterruptWatch::~InterruptWatch() {
  sigaction(SIGINT, &g_previousInt, nullptr);
  sigaction(SIGTERM, &g_previousTerm, nullptr);
}

const std::atomic<bool>* InterruptWatch::flag() const { return &g_interrupted; }

bool InterruptWatch::interrupted() const { return g_interrupted.load(); }

int InterruptWatch::exitStatus() const {
  const int signal = g_signal.load();
  return signal == 0 ? 0 : 128 + signal;
}

}  // namespace tallow::app
