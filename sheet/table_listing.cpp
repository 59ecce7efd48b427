#include "sheet/table_listing.h"

#include <iomanip>

namespace sheet {

void printTable(const PackLibrary& pack, std::ostream& out) {
  out << std::left << std::setw(4) << "row" << std::setw(11) << "name" << std::setw(6) << "args"
      << std::setw(12) << "appended" << std::setw(5) << "kind" << std::setw(10) << "status"
      << "unit rule\n";
  for (int i = 0; i < pack.size(); ++i) {
    const RowInfo row = pack.row(i);
    std::string appended;
    for (const std::string& name : row.appended) appended += (appended.empty() ? "" : ",") + name;
    out << std::setw(4) << row.index << std::setw(11) << row.name << std::setw(6)
        << (row.arguments == RowInfo::kVariadic ? std::string("n") : std::to_string(row.arguments))
        << std::setw(12) << (appended.empty() ? "-" : appended) << std::setw(5) << row.kind
        << std::setw(10) << (row.available ? "ready" : "missing") << '"' << row.unitRule << "\"\n";
  }
}

}  // namespace sheet
