// Loads the pack as a host does: opens the library by path, registers it, reads its
// function table, and calls a row's entry with the worksheet arguments followed by the
// system variables the row's dependency list names (TOL, ORIGIN, in list order); a
// counted row receives the number of arguments first.
#pragma once

#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "host/ufnutils.h"

namespace sheet {

// The current values of the worksheet's system variables.
struct SystemVariables {
  Anyval* tol;
  Anyval* origin;
};

// What the host learns from one row of the table.
struct RowInfo {
  int index;
  std::string name;
  int arguments;  // worksheet arguments, without the appended ones; kVariadic when counted
  std::vector<std::string> appended;  // system variables appended, in order
  uint32_t kind;
  std::string unitRule;
  bool available;  // the row has an entry

  static constexpr int kVariadic = -1;
};

// Raised when a call cannot be made: no entry, or the wrong number of arguments.
class CallError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class PackLibrary {
 public:
  // Opens the library at `path`; throws std::runtime_error when it cannot be loaded or
  // lacks the table.
  static PackLibrary open(const std::string& path);
  // A pack linked into this program: its table and registration functions.
  static PackLibrary linked(const sFunctionDescriptor* table, int32_t count,
                            HRESULT(WS_STDCALL* registerPack)(),
                            HRESULT(WS_STDCALL* unregisterPack)());
  // The library beside this program's own directory: ../lib/ (matpack.dll beside it on Windows).
  static std::string defaultPath();

  PackLibrary(PackLibrary&&) noexcept;
  PackLibrary& operator=(PackLibrary&&) noexcept;
  ~PackLibrary();

  HRESULT registerPack() const;
  HRESULT unregisterPack() const;

  int size() const { return count_; }
  const sFunctionDescriptor& descriptor(int row) const { return table_[row]; }
  RowInfo row(int index) const;
  // The row of the function with this worksheet name, or -1.
  int find(std::string_view name) const;
  // An exported symbol of the library, or null (always null for a linked pack).
  void* symbol(const char* name) const;

  // Calls the row's entry. Throws CallError when the row has no entry or `args` does not
  // match the number of worksheet arguments it takes.
  Anyval* call(int row, UfnCallContext* ctx, std::span<Anyval* const> args,
               const SystemVariables& system) const;

  static constexpr size_t kMaxArguments = 64;

 private:
  PackLibrary() = default;

  void* handle_ = nullptr;
  const sFunctionDescriptor* table_ = nullptr;
  int32_t count_ = 0;
  HRESULT(WS_STDCALL* register_)() = nullptr;
  HRESULT(WS_STDCALL* unregister_)() = nullptr;
};

}  // namespace sheet
