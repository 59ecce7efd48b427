#include "tests/fuzz/hooked_table.h"

#include <array>
#include <cstdarg>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "pack/exports.h"

namespace fuzzing {

namespace {

constexpr int kRows = 41;
constexpr size_t kMostValues = 6;  // worksheet arguments and system variables of a fixed row

const HookedTable* current = nullptr;
sFunctionDescriptor hookedRows[kRows];

// A call of a row's entry with these values (system variables last), handed to the hook.
Anyval* dispatch(int row, UfnCallContext* ctx, std::span<Anyval* const> values) {
  const sheet::RowInfo info = current->pack().row(row);
  const size_t appended = info.appended.size();
  const size_t count = values.size() >= appended ? values.size() - appended : 0;
  sheet::SystemVariables system{nullptr, nullptr};
  for (size_t k = 0; k < appended && count + k < values.size(); ++k) {
    (info.appended[k] == "TOL" ? system.tol : system.origin) = values[count + k];
  }
  return current->hook()({row, ctx, values.first(count), system});
}

template <int Row, class... Values>
Anyval* fixedEntry(UfnCallContext* ctx, Values... values) {
  Anyval* const list[] = {values...};
  return dispatch(Row, ctx, list);
}

template <int Row>
Anyval* countedEntry(UfnCallContext* ctx, int count, ...) {
  std::vector<Anyval*> values(count > 0 ? size_t(count) : 0);
  std::va_list list;
  va_start(list, count);
  for (Anyval*& value : values) value = va_arg(list, Anyval*);
  va_end(list);
  return dispatch(Row, ctx, values);
}

template <int Row, size_t... I>
const void* fixedEntryOf(std::index_sequence<I...>) {
  return reinterpret_cast<const void*>(&fixedEntry<Row, decltype((void)I, (Anyval*)nullptr)...>);
}

// A row's entries: for 1 to kMostValues values, then the counted one.
template <int Row>
std::array<const void*, kMostValues + 1> entriesOf() {
  return [&]<size_t... N>(std::index_sequence<N...>) {
    return std::array<const void*, kMostValues + 1>{
        fixedEntryOf<Row>(std::make_index_sequence<N + 1>())...,
        reinterpret_cast<const void*>(&countedEntry<Row>)};
  }
  (std::make_index_sequence<kMostValues>());
}

const auto kEntries = []<int... R>(std::integer_sequence<int, R...>) {
  return std::array{entriesOf<R>()...};
}
(std::make_integer_sequence<int, kRows>());

}  // namespace

HookedTable::HookedTable(Hook hook)
    : hook_(std::move(hook)),
      pack_(sheet::PackLibrary::linked(theUfn, numFuncs, DllRegisterServer, DllUnregisterServer)),
      hooked_(sheet::PackLibrary::linked(hookedRows, numFuncs, DllRegisterServer,
                                         DllUnregisterServer)) {
  if (current || numFuncs != kRows) std::abort();
  current = this;
  for (int row = 0; row < kRows; ++row) {
    hookedRows[row] = theUfn[row];
    if (!theUfn[row].entry) continue;
    const int32_t taken = theUfn[row].signature->arguments;
    hookedRows[row].entry = taken == sFunctionInfo::kVariadic
                                ? kEntries[size_t(row)][kMostValues]
                                : kEntries[size_t(row)][size_t(taken - 1)];
  }
}

HookedTable::~HookedTable() {
  current = nullptr;
}

Anyval* HookedTable::call(const TableCall& call) const {
  return pack_.call(call.row, call.ctx, call.arguments, call.system);
}

}  // namespace fuzzing
