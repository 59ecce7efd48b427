// Ctrl-C during an evaluation: the first press makes the evaluator's interrupt poll answer
// 1, so a long calculation in the pack stops; a second press quits the program. The
// worksheet clears the evaluator's interrupt after each statement; rearming also forgets
// the first press.
#pragma once

#include "sheet/evaluator.h"

namespace sheet {

// Installs the SIGINT handler for `evaluator`, which must outlive the program's statements.
void installInterruptHandler(Evaluator& evaluator);

// Forgets the presses so far and clears the evaluator's interrupt.
void rearmInterrupt();

}  // namespace sheet
