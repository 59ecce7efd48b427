// Sessions with the pack that a user can live in: values nested to any depth, memory that
// stays flat over many statements, statements that cost what they do however large the
// values kept beside them, and Ctrl-C in the host's own long loops.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>

#include "pack/exports.h"
#include "sheet/worksheet.h"

namespace {

class Session : public ::testing::Test {
 protected:
  Session()
      : pack(sheet::PackLibrary::linked(theUfn, numFuncs, DllRegisterServer, DllUnregisterServer)),
        worksheet(pack, host, nullptr) {}

  // The JSON line (or lines) one statement writes.
  std::string run(const std::string& line) {
    std::ostringstream text;
    sheet::JsonOutput out(text, [this] { return host.evaluator.interruptRequested(); });
    worksheet.run(line, "s", ++lines, out);
    return text.str();
  }

  std::string hostError(const std::string& text) const {
    return "{\"line\": " + std::to_string(lines) +
           ", \"host_error\": \"s:" + std::to_string(lines) + ": " + text + "\"}\n";
  }

  std::string scalar(const std::string& number) const {
    return "{\"line\": " + std::to_string(lines) +
           ", \"value\": {\"type\": \"scalar\", \"re\": " + number + ", \"im\": 0}}\n";
  }

  sheet::Host host;
  sheet::PackLibrary pack;
  sheet::Worksheet worksheet;
  int lines = 0;
};

size_t count(const std::string& text, const std::string& part) {
  size_t found = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++found;
  }
  return found;
}

TEST_F(Session, ShowsSharesAndFreesValuesNestedToAnyDepth) {
  const size_t start = host.allocator.outstanding();
  run("D := [1]");
  const std::string deeper = "D := " + std::string(90, '[') + "D" + std::string(90, ']');
  for (int k = 0; k < 1112; ++k) run(deeper);
  const size_t levels = 1 + 90 * 1112;
  run("E := [D, D]");
  const std::string shown = run("D");
  EXPECT_EQ(count(shown, R"("nested": true)"), levels - 1);
  const std::string ending = R"(]], "im": null}]], "im": null}})"
                             "\n";
  EXPECT_EQ(shown.substr(shown.size() - ending.size()), ending);
  EXPECT_EQ(count(run("E"), R"("nested": true)"), 2 * (levels - 1) + 1);
  const std::string rows = run("rows(D[0, 0])");
  EXPECT_EQ(rows, scalar("1"));
  EXPECT_TRUE(host.allocator.unreachable(worksheet.roots()).empty());
  run("D := 0");
  run("E := 0");
  EXPECT_EQ(host.allocator.outstanding(), start + 2) << "the scalars D and E";
}

// Resident memory in bytes, where the system tells.
size_t residentBytes() {
  std::ifstream statm("/proc/self/statm");
  size_t pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * 4096;
}

TEST_F(Session, KeepsItsSizeOverAHundredThousandStatements) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine";
#endif
  const char* statements[] = {
      "A := matrix(10, 10, f)",
      "B := lu(A + identity(10))",
      "s := \"some text, \u00e9t\u00e9\"",
      "C := [s, A; 1, B]",
      "rows(C) + cols(B)",
      "x := lsolve(A + identity(10), stack(1, 2, 3, 4, 5, 6, 7, 8, 9, 10)) * 2",
      "y := nosuch + 1",
      "z := rows(\"x\")",
      "stack(A, A)[5, 2]",
      "1 + 1",
  };
  run("f(i, j) := i * 10 + j");
  std::ofstream nowhere;
  sheet::JsonOutput out(nowhere);
  size_t settled = 0;
  for (int k = 0; k < 100000; ++k) {
    worksheet.run(statements[k % std::size(statements)], "s", k, out);
    if (k == 999) settled = residentBytes();
  }
  const size_t resident = residentBytes();
  EXPECT_LE(resident, settled + settled / 10) << settled << " bytes after 1,000 statements";
}

TEST_F(Session, StatementsCostWhatTheyDoBesideALargeValue) {
  run("A := identity(4096)");
  auto fastest = [&](const std::string& statement) {
    auto best = std::chrono::steady_clock::duration::max();
    for (int k = 0; k < 20; ++k) {
      const auto start = std::chrono::steady_clock::now();
      run(statement);
      best = std::min(best, std::chrono::steady_clock::now() - start);
    }
    return best;
  };
  EXPECT_LT(fastest("1 + 1"), std::chrono::milliseconds(1));
  EXPECT_LT(fastest("b := [1, 2]"), std::chrono::milliseconds(1));
  const size_t held = host.allocator.outstanding();
  run("A := 0");
  EXPECT_EQ(host.allocator.outstanding(), held - 1) << "the matrix and its array gone, 0 come";
}

TEST_F(Session, CtrlCStopsTheHostsOwnLongLoops) {
  run("A := identity(300)");
  for (const char* statement : {"A * A", "A + A", "-A", "sqrt(A)", "A"}) {
    host.evaluator.requestInterrupt();
    const std::string stopped = run(statement);
    EXPECT_EQ(stopped, hostError("interrupted")) << statement;
    const std::string next = run("1 + 1");
    EXPECT_EQ(next, scalar("2")) << "after " << statement;
  }
}

}  // namespace
