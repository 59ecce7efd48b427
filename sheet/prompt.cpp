#include "sheet/prompt.h"

#include <iostream>

#if defined(MATSHEET_LINE_EDITING)
#include <histedit.h>
#include <langinfo.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sheet/interrupt.h"
#endif

namespace sheet {

#if defined(MATSHEET_LINE_EDITING)

namespace {

constexpr int kHistorySize = 1000;

std::atomic<bool> resized{false};

void onResize(int) {
  resized = true;
}

bool isNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// The bytes of the UTF-8 character whose first byte is `lead` (1 for a byte that starts none).
size_t sequenceBytes(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC2) return 2;
  return 1;
}

wchar_t decode(const unsigned char* bytes, size_t count) {
  if (count == 1) return bytes[0] < 0x80 ? bytes[0] : 0xFFFD;
  wchar_t c = bytes[0] & (0x7F >> count);
  for (size_t k = 1; k < count; ++k) {
    if ((bytes[k] & 0xC0) != 0x80) return 0xFFFD;
    c = (c << 6) | (bytes[k] & 0x3F);
  }
  return c;
}

// "$HOME/.matsheet_history", or empty when there is no home.
std::string historyPath() {
  const char* home = std::getenv("HOME");
  return home && *home ? std::string(home) + "/.matsheet_history" : std::string();
}

}  // namespace

struct Prompt::Editor {
  std::function<std::vector<std::string>()> names;
  EditLine* line = nullptr;
  History* entries = nullptr;
  std::string historyFile;
  bool abandoned = false;  // Ctrl-C ended the last read

  explicit Editor(std::function<std::vector<std::string>()> n) : names(std::move(n)) {
    // Lines are UTF-8 whatever the environment says; numbers keep the C locale.
    const char* locale = std::setlocale(LC_CTYPE, "");
    if (!locale || std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) {
      std::setlocale(LC_CTYPE, "C.UTF-8");
    }
    entries = history_init();
    HistEvent event;
    history(entries, &event, H_SETSIZE, kHistorySize);
    history(entries, &event, H_SETUNIQUE, 1);
    historyFile = historyPath();
    if (!historyFile.empty()) history(entries, &event, H_LOAD, historyFile.c_str());

    line = el_init("matsheet", stdin, stderr, stderr);
    el_set(line, EL_CLIENTDATA, this);
    el_set(line, EL_EDITOR, "emacs");
    el_set(
        line, EL_PROMPT, +[](EditLine*) -> char* { return const_cast<char*>("> "); });
    el_set(line, EL_HIST, history, entries);
    el_set(line, EL_GETCFN, &readCharacter);
    el_set(line, EL_ADDFN, "matsheet-complete", "complete a name", &complete);
    el_set(line, EL_BIND, "^I", "matsheet-complete", nullptr);
    el_source(line, nullptr);  // the user's ~/.editrc
    std::signal(SIGWINCH, onResize);
  }

  ~Editor() {
    std::signal(SIGWINCH, SIG_DFL);
    el_end(line);
    history_end(entries);
  }

  static Editor& of(EditLine* line) {
    void* self = nullptr;
    el_get(line, EL_CLIENTDATA, &self);
    return *static_cast<Editor*>(self);
  }

  // Reads one character, waiting in poll() so that Ctrl-C (which does not end a read) is
  // seen at once: it abandons the line.
  static int readCharacter(EditLine* line, wchar_t* out) {
    Editor& self = of(line);
    unsigned char bytes[4];
    size_t have = 0, need = 1;
    while (have < need) {
      if (interruptPressed()) {
        rearmInterrupt();
        self.abandoned = true;
        return -1;
      }
      if (resized.exchange(false)) el_resize(line);
      pollfd input{STDIN_FILENO, POLLIN, 0};
      if (poll(&input, 1, -1) < 0) {
        if (errno == EINTR) continue;
        return -1;
      }
      const ssize_t count = ::read(STDIN_FILENO, bytes + have, 1);
      if (count == 0) return 0;
      if (count < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        return -1;
      }
      if (have == 0) need = sequenceBytes(bytes[0]);
      ++have;
    }
    *out = decode(bytes, have);
    return 1;
  }

  // Tab: completes the name before the cursor as far as the candidates agree, or lists
  // them when that adds nothing.
  static unsigned char complete(EditLine* line, int) {
    Editor& self = of(line);
    const LineInfo* info = el_line(line);
    const char* start = info->cursor;
    while (start > info->buffer && isNameChar(start[-1])) --start;
    const std::string prefix(start, info->cursor);
    if (prefix.empty() || std::isdigit(static_cast<unsigned char>(prefix[0]))) return CC_ERROR;
    std::vector<std::string> candidates;
    for (const std::string& name : self.names()) {
      if (name.compare(0, prefix.size(), prefix) == 0) candidates.push_back(name);
    }
    if (candidates.empty()) return CC_ERROR;
    std::string common = candidates.front();
    for (const std::string& name : candidates) {
      size_t agree = 0;
      while (agree < common.size() && agree < name.size() && common[agree] == name[agree]) {
        ++agree;
      }
      common.resize(agree);
    }
    if (common.size() > prefix.size()) {
      el_insertstr(line, common.substr(prefix.size()).c_str());
      return CC_REFRESH;
    }
    if (candidates.size() == 1) return CC_REFRESH;
    std::fputc('\n', stderr);
    for (const std::string& name : candidates) std::fprintf(stderr, "%s  ", name.c_str());
    std::fputc('\n', stderr);
    return CC_REDISPLAY;
  }

  std::optional<std::string> read() {
    for (;;) {
      abandoned = false;
      int count = 0;
      const char* text = el_gets(line, &count);
      if (abandoned) {
        std::fputc('\n', stderr);
        continue;
      }
      if (!text || count <= 0) {
        std::fputc('\n', stderr);
        return std::nullopt;
      }
      std::string result(text, size_t(count));
      if (!result.empty() && result.back() == '\n') result.pop_back();
      remember(result);
      return result;
    }
  }

  void remember(const std::string& entry) {
    if (entry.find_first_not_of(" \t") == std::string::npos) return;
    HistEvent event;
    history(entries, &event, H_ENTER, entry.c_str());
    if (!historyFile.empty()) history(entries, &event, H_SAVE, historyFile.c_str());
  }
};

bool Prompt::editing() {
  return isatty(STDIN_FILENO) && isatty(STDERR_FILENO);
}

Prompt::Prompt(std::function<std::vector<std::string>()> names) {
  if (editing()) editor_ = std::make_unique<Editor>(std::move(names));
}

#else

struct Prompt::Editor {};

bool Prompt::editing() {
  return false;
}

Prompt::Prompt(std::function<std::vector<std::string>()>) {}

#endif

Prompt::~Prompt() = default;

std::optional<std::string> Prompt::read() {
#if defined(MATSHEET_LINE_EDITING)
  if (editor_) return editor_->read();
#endif
  std::cerr << "> " << std::flush;
  std::string line;
  if (!std::getline(std::cin, line)) {
    std::cerr << '\n';
    return std::nullopt;
  }
  return line;
}

}  // namespace sheet
