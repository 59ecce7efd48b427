// The function table as the host sees it, one line per row.
#pragma once

#include <ostream>

#include "sheet/loader.h"

namespace sheet {

// Prints row, name, arguments, appended system variables, kind code, unit rule and
// whether the function is available.
void printTable(const PackLibrary& pack, std::ostream& out);

}  // namespace sheet
