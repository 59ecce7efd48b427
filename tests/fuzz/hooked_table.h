// A copy of the pack's function table whose entries hand every call to a hook, which may
// look at it, refuse it, or make it (through call()). A host loads the copy like the pack
// itself: the worksheet fuzz target makes each call through the checks there, and the seed
// maker records the calls the golden sheets make.
#pragma once

#include <functional>
#include <span>

#include "sheet/loader.h"

namespace fuzzing {

// One call as the host made it: the worksheet arguments and the system variables.
struct TableCall {
  int row;
  UfnCallContext* ctx;
  std::span<Anyval* const> arguments;
  sheet::SystemVariables system;
};

class HookedTable {
 public:
  using Hook = std::function<Anyval*(const TableCall& call)>;

  // Only one hooked table exists at a time.
  explicit HookedTable(Hook hook);
  ~HookedTable();
  HookedTable(const HookedTable&) = delete;
  HookedTable& operator=(const HookedTable&) = delete;

  // The copy, as a host loads it.
  const sheet::PackLibrary& library() const { return hooked_; }
  // The pack's own table.
  const sheet::PackLibrary& pack() const { return pack_; }
  // Makes the call with the pack's own entry.
  Anyval* call(const TableCall& call) const;
  const Hook& hook() const { return hook_; }

 private:
  Hook hook_;
  sheet::PackLibrary pack_;
  sheet::PackLibrary hooked_;
};

}  // namespace fuzzing
