// Seeds for the fuzz targets, from worksheets (the golden sheets and the tour):
//
//   make_fuzz_seeds OUTDIR SHEET...
//
// writes OUTDIR/worksheet/<sheet>-<k>: the sheet in blocks of kBlock lines, and
// OUTDIR/call/<sheet>-<k>: each call the sheet makes of the pack's table, encoded for the
// structured target (tests/fuzz/call_codec.h), the same bytes once only.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "linalg/inverse.h"
#include "sheet/worksheet.h"
#include "tests/fuzz/call_codec.h"
#include "tests/fuzz/hooked_table.h"

namespace {

namespace fs = std::filesystem;

constexpr int kBlock = 16;

class Discard : public sheet::Output {
 public:
  void value(int, const std::string&, const Anyval*) override {}
  void hostError(int, const std::string&) override {}
};

void write(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: make_fuzz_seeds OUTDIR SHEET...\n");
    return 2;
  }
  const fs::path out = argv[1];
  fs::create_directories(out / "call");
  fs::create_directories(out / "worksheet");
  std::set<std::string> seen;
  std::string sheetName;
  int calls = 0, blocks = 0;
  const fuzzing::HookedTable table([&](const fuzzing::TableCall& call) {
    if (auto bytes =
            fuzzing::encodeCall(call.row, call.arguments, call.system.tol, call.system.origin)) {
      if (seen.insert(*bytes).second) {
        write(out / "call" / (sheetName + "-" + std::to_string(++calls)), *bytes);
      }
    }
    return table.call(call);
  });

  for (int k = 2; k < argc; ++k) {
    const fs::path sheet = argv[k];
    sheetName = sheet.stem().string();
    std::ifstream in(sheet, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    for (size_t first = 0; first < lines.size(); first += kBlock) {
      std::string block;
      for (size_t n = first; n < std::min(lines.size(), first + kBlock); ++n)
        block += lines[n] + "\n";
      write(out / "worksheet" / (sheetName + "-" + std::to_string(first / kBlock + 1)), block);
      ++blocks;
    }
    sheet::Host host;
    sheet::Worksheet worksheet(table.library(), host, inv);
    Discard discard;
    for (size_t n = 0; n < lines.size(); ++n) {
      worksheet.run(lines[n], sheet.string(), static_cast<int>(n + 1), discard);
    }
  }
  std::printf("%d call seeds, %d worksheet seeds\n", calls, blocks);
  return 0;
}
