// Ctrl-C during an evaluation: the first press makes the evaluator's interrupt poll answer
// 1, so a long calculation in the pack stops; a second press quits the program. The
// worksheet clears the evaluator's interrupt after each statement; rearming also forgets
// the first press.
//
// The pack polls the evaluator; the host's own long loops (the calls back from the pack,
// arithmetic on large matrices, showing a large value) ask a StopRequest now and then and
// stop with Interrupted.
#pragma once

#include <functional>
#include <stdexcept>

#include "sheet/evaluator.h"

namespace sheet {

// True once the user has asked to stop the statement. An empty one never asks.
using StopRequest = std::function<bool()>;

class Interrupted : public std::runtime_error {
 public:
  Interrupted() : std::runtime_error("interrupted") {}
};

// Throws Interrupted when `stop` asks to.
inline void stopIfAsked(const StopRequest& stop) {
  if (stop && stop()) throw Interrupted();
}

// Installs the SIGINT handler for `evaluator`, which must outlive the program's statements.
void installInterruptHandler(Evaluator& evaluator);

// Forgets the presses so far and clears the evaluator's interrupt.
void rearmInterrupt();

// True when Ctrl-C was pressed since the handler was installed or rearmed: at the prompt a
// press abandons the line being typed.
bool interruptPressed();

}  // namespace sheet
