// matsheet: the worksheet program. It loads the pack exactly as a host does and evaluates
// worksheet statements by calling the pack's table.
//
//   matsheet [--json] [--tol X] [--origin N] [--list] [-e STATEMENT]... [FILE]...
//
// Statements come from each -e in order, then from each FILE ("-" is standard input);
// with neither, from standard input, with a prompt when it is a terminal (see prompt.h for
// line editing, history and completion). Exit status: 0 when every statement was
// evaluated (a pack error is a result), 1 when some statement could not be, 2 for a bad
// command line.
//
// Ctrl-C interrupts the statement being evaluated; a second Ctrl-C ends the program.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "sheet/interrupt.h"
#include "sheet/prompt.h"
#include "sheet/table_listing.h"
#include "sheet/worksheet.h"

namespace {

const char kUsage[] =
    "usage: matsheet [--json] [--tol X] [--origin N] [--list] [-e STATEMENT]... [FILE]...\n"
    "  --json       one JSON object per statement instead of readable results\n"
    "  --tol X      starting TOL (default 0.001)\n"
    "  --origin N   starting ORIGIN (default 0)\n"
    "  --list       print the pack's function table and exit\n"
    "  --version    print the version and exit\n"
    "  -e STATEMENT evaluate STATEMENT (before the files)\n"
    "Without -e or FILE, statements are read from standard input.\n";

// Where statements come from: a text (-e, a file) or standard input (no text).
struct Source {
  std::string name;
  std::optional<std::string> text;
};

struct Options {
  bool json = false;
  bool list = false;
  double tol = 0.001;
  double origin = 0;
  std::vector<Source> sources;
};

[[noreturn]] void badCommandLine(const std::string& problem) {
  std::cerr << "matsheet: " << problem << '\n' << kUsage;
  std::exit(2);
}

double number(const char* option, const char* text, bool whole) {
  char* end = nullptr;
  const double x = std::strtod(text, &end);
  if (*text == '\0' || *end != '\0' || (whole && (x != std::floor(x) || std::fabs(x) > 1e9))) {
    badCommandLine(std::string(option) + " needs " + (whole ? "a whole number" : "a number") +
                   ", not '" + text + "'");
  }
  return x;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) badCommandLine("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

Options parseCommandLine(int argc, char** argv) {
  Options options;
  std::vector<std::string> commands;
  std::vector<Source> files;
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    auto value = [&]() -> const char* {
      if (k + 1 == argc) badCommandLine(arg + " needs a value");
      return argv[++k];
    };
    if (arg == "--json") {
      options.json = true;
    } else if (arg == "--list") {
      options.list = true;
    } else if (arg == "--tol") {
      options.tol = number("--tol", value(), false);
    } else if (arg == "--origin") {
      options.origin = number("--origin", value(), true);
    } else if (arg == "-e") {
      commands.push_back(value());
    } else if (arg == "--version") {
      std::cout << "matsheet " MATPACK_VERSION "\n";
      std::exit(0);
    } else if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      std::exit(0);
    } else if (arg == "-") {
      files.push_back({"<stdin>", std::nullopt});
    } else if (arg.size() > 1 && arg[0] == '-') {
      badCommandLine("unknown option " + arg);
    } else {
      files.push_back({arg, readFile(arg)});
    }
  }
  // The -e statements are the lines of one source, so a message names the -e by its line.
  if (!commands.empty()) {
    std::string text;
    for (const std::string& command : commands) text += command + "\n";
    options.sources.push_back({"-e", text});
  }
  options.sources.insert(options.sources.end(), files.begin(), files.end());
  if (options.sources.empty()) options.sources.push_back({"<stdin>", std::nullopt});
  return options;
}

bool interactive() {
#if defined(_WIN32)
  return _isatty(_fileno(stdin)) != 0;
#else
  return isatty(STDIN_FILENO) != 0;
#endif
}

// Runs one statement; false when it could not be evaluated. Should even the report of a
// host error find no memory, the statement is counted as not evaluated and the run goes on.
bool runLine(sheet::Worksheet& worksheet, const std::string& line, const Source& source, int number,
             sheet::Output& out) {
  try {
    return worksheet.run(line, source.name, number, out);
  } catch (const std::bad_alloc&) {
    std::fputs("matsheet: out of memory\n", stderr);
    return false;
  }
}

// Runs every line of the source; false when some statement could not be evaluated.
bool runSource(sheet::Worksheet& worksheet, const Source& source, sheet::Output& out) {
  std::istringstream text(source.text.value_or(""));
  std::istream& in = source.text ? static_cast<std::istream&>(text) : std::cin;
  std::optional<sheet::Prompt> prompt;
  if (!source.text && interactive()) prompt.emplace([&worksheet] { return worksheet.names(); });
  bool evaluated = true;
  std::string line;
  for (int number = 1;; ++number) {
    if (prompt) {
      std::optional<std::string> typed = prompt->read();
      if (!typed) break;
      line = std::move(*typed);
    } else if (!std::getline(in, line)) {
      break;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // At the prompt every statement can be interrupted anew; in a file the second Ctrl-C
    // ends the program even when the first came during an earlier statement.
    if (prompt) sheet::rearmInterrupt();
    evaluated = runLine(worksheet, line, source, number, out) && evaluated;
    if (prompt) sheet::rearmInterrupt();
  }
  return evaluated;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parseCommandLine(argc, argv);
  std::optional<sheet::PackLibrary> pack;
  try {
    pack.emplace(sheet::PackLibrary::open(sheet::PackLibrary::defaultPath()));
  } catch (const std::exception& e) {
    std::cerr << "matsheet: " << e.what() << '\n';
    return 1;
  }
  if (pack->registerPack() < 0) {
    std::cerr << "matsheet: the pack did not register\n";
    return 1;
  }
  if (options.list) {
    sheet::printTable(*pack, std::cout);
    pack->unregisterPack();
    return 0;
  }

  sheet::Host host;
  sheet::Worksheet worksheet(*pack, host, sheet::Worksheet::findInverse(*pack), options.tol,
                             options.origin);
  auto stop = [&host] { return host.evaluator.interruptRequested(); };
  sheet::JsonOutput json(std::cout, stop);
  sheet::ReadableOutput readable(std::cout, std::cerr, stop);
  sheet::Output& out = options.json ? static_cast<sheet::Output&>(json) : readable;
  sheet::installInterruptHandler(host.evaluator);

  bool evaluated = true;
  for (const Source& source : options.sources) {
    evaluated = runSource(worksheet, source, out) && evaluated;
  }
  pack->unregisterPack();
  return evaluated ? 0 : 1;
}
