// matsheet: a worksheet program that loads the pack exactly as a host does.
//
//   matsheet --list      prints the pack's function table
#include <cstring>
#include <iostream>

#include "sheet/loader.h"
#include "sheet/table_listing.h"

int main(int argc, char** argv) {
  if (argc != 2 || std::strcmp(argv[1], "--list") != 0) {
    std::cerr << "usage: matsheet --list\n";
    return 2;
  }
  try {
    sheet::PackLibrary pack = sheet::PackLibrary::open(sheet::PackLibrary::defaultPath());
    if (pack.registerPack() < 0) {
      std::cerr << "matsheet: the pack did not register\n";
      return 1;
    }
    sheet::printTable(pack, std::cout);
    pack.unregisterPack();
  } catch (const std::exception& e) {
    std::cerr << "matsheet: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
