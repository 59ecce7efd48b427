// Ctrl-C during an evaluation: the first press makes the evaluator's interrupt poll answer
// 1, so a long calculation in the pack stops; a second press before the statement ends
// quits the program.
#pragma once

#include "sheet/evaluator.h"

namespace sheet {

// Installs the SIGINT handler for `evaluator`, which must outlive the program's statements.
void installInterruptHandler(Evaluator& evaluator);

// Forgets the presses so far and clears the evaluator's interrupt; called between statements.
void rearmInterrupt();

}  // namespace sheet
