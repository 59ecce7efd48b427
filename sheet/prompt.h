// Where matsheet reads statements typed at a terminal. Built with libedit
// (MATSHEET_LINE_EDITING), the prompt edits the line (Emacs keys, or what ~/.editrc sets),
// recalls earlier lines with the arrow keys from a history kept in ~/.matsheet_history,
// and completes the name before the cursor with Tab from the names the worksheet knows
// (a second Tab lists the candidates). Ctrl-C abandons the line being typed; Ctrl-D on an
// empty line ends the input. Elsewhere it is a plain "> " prompt on standard error.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sheet {

class Prompt {
 public:
  // `names` gives the names to complete from when Tab is pressed.
  explicit Prompt(std::function<std::vector<std::string>()> names);
  ~Prompt();
  Prompt(const Prompt&) = delete;
  Prompt& operator=(const Prompt&) = delete;

  // True when the prompt edits lines: standard input and standard error are a terminal
  // and the program has line editing.
  static bool editing();

  // The next line typed, without its end; nothing at the end of the input.
  std::optional<std::string> read();

 private:
  struct Editor;
  std::unique_ptr<Editor> editor_;  // null: the plain prompt
};

}  // namespace sheet
