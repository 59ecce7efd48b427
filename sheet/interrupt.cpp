#include "sheet/interrupt.h"

#include <atomic>
#include <csignal>
#include <cstdlib>

namespace sheet {

namespace {

// The handler touches nothing but these lock-free atomics (requestInterrupt sets one too).
std::atomic<Evaluator*> target{nullptr};
std::atomic<int> presses{0};

void onInterrupt(int) {
  // Some systems reset the handler when it runs.
  std::signal(SIGINT, onInterrupt);
  if (presses.fetch_add(1) != 0) std::_Exit(130);
  if (Evaluator* evaluator = target.load()) evaluator->requestInterrupt();
}

}  // namespace

void installInterruptHandler(Evaluator& evaluator) {
  target.store(&evaluator);
  presses.store(0);
  std::signal(SIGINT, onInterrupt);
}

bool interruptPressed() {
  return presses.load() != 0;
}

void rearmInterrupt() {
  presses.store(0);
  if (Evaluator* evaluator = target.load()) evaluator->clearInterrupt();
}

}  // namespace sheet
