// Interface tables whose every slot stops the program, naming the slot: a host fills in
// the slots it provides, so a pack that calls any other one is caught at once.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "host/records.h"

namespace sheet {

template <const char* Host, const char* Interface, int Slot>
void missingSlot() {
  std::fprintf(stderr, "%s: the pack called %s slot %d, which this host does not provide\n", Host,
               Interface, Slot);
  std::abort();
}

template <const char* Host, const char* Interface, int First, size_t... I>
constexpr void fillMissing(void (**slots)(), std::index_sequence<I...>) {
  ((slots[I] = &missingSlot<Host, Interface, First + int(I)>), ...);
}

inline constexpr char kAllocatorName[] = "allocator";
inline constexpr char kEvaluatorName[] = "evaluator";

// An allocator table with slots 8 and 60 to 63 still to fill.
template <const char* Host>
constexpr IwsAllocatorTable allocatorTableOfMissingSlots() {
  IwsAllocatorTable table{};
  fillMissing<Host, kAllocatorName, 0>(table.hostSlots0to7, std::make_index_sequence<8>());
  fillMissing<Host, kAllocatorName, 9>(table.hostSlots9to59, std::make_index_sequence<51>());
  return table;
}

// An evaluator table with slots 3, 4, 5, 7, 10 and 11 still to fill.
template <const char* Host>
constexpr IwsEvaluatorTable evaluatorTableOfMissingSlots() {
  IwsEvaluatorTable table{};
  fillMissing<Host, kEvaluatorName, 0>(table.hostSlots0to2, std::make_index_sequence<3>());
  fillMissing<Host, kEvaluatorName, 6>(&table.hostSlot6, std::make_index_sequence<1>());
  fillMissing<Host, kEvaluatorName, 8>(table.hostSlots8to9, std::make_index_sequence<2>());
  return table;
}

}  // namespace sheet
