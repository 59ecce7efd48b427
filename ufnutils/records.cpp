// The host's prebuilt records (signature objects, name and rule records, the ORIGIN
// identifier, the out-of-memory error) and the registry of function packs.
#include <array>
#include <cstring>
#include <map>

#include "host/ufnutils.h"

namespace {

sFunctionInfo anyToAny{1, "Any_to_Any"};
sFunctionInfo anyToNum{1, "Any_to_Num"};
sFunctionInfo anyToMat{1, "Any_to_Mat"};
sFunctionInfo any2ToAny{2, "Any_Any_to_Any"};
sFunctionInfo any2ToNum{2, "Any_Any_to_Num"};
sFunctionInfo any2ToMat{2, "Any_Any_to_Mat"};
sFunctionInfo any3ToMat{3, "Any_Any_Any_to_Mat"};
sFunctionInfo any4ToAny{4, "Any_Any_Any_Any_to_Any"};
sFunctionInfo any5ToAny{5, "Any_Any_Any_Any_Any_to_Any"};
sFunctionInfo any6ToAny{6, "Any_Any_Any_Any_Any_Any_to_Any"};
sFunctionInfo variableToNum{sFunctionInfo::kVariadic, "Variable_to_Num"};

// Names count their NUL in the length, as the host's name records do.
sString stripUnitRule{kTagString, "-StripUnit", 11};
sString transposeName{kTagString, "transpose", 10};
sString diagName{kTagString, "diag", 5};
sString originName{kTagString, "ORIGIN", 7};
sIdentifier originIdentifier{kTagIdentifier, 0, &originName, 2};

aString outOfMemoryText{kTagString, "out of memory", 13};
aError outOfMemory{kTagError, 0, 0, &outOfMemoryText, 0, 0};

using Key = std::array<uint8_t, sizeof(PackId)>;

Key keyOf(const PackId* id) {
  Key key;
  std::memcpy(key.data(), id, key.size());
  return key;
}

// Registration happens on the host's start-up thread; no locking.
std::map<Key, void*>& registry() {
  static std::map<Key, void*> modules;
  return modules;
}

}  // namespace

extern "C" {
aError* sError_OutOfMemory = &outOfMemory;
sFunctionInfo* Any_to_Any = &anyToAny;
sFunctionInfo* Any_to_Num = &anyToNum;
sFunctionInfo* Any_to_Mat = &anyToMat;
sFunctionInfo* Any_Any_to_Any = &any2ToAny;
sFunctionInfo* Any_Any_to_Num = &any2ToNum;
sFunctionInfo* Any_Any_to_Mat = &any2ToMat;
sFunctionInfo* Any_Any_Any_to_Mat = &any3ToMat;
sFunctionInfo* Any_Any_Any_Any_to_Any = &any4ToAny;
sFunctionInfo* Any_Any_Any_Any_Any_to_Any = &any5ToAny;
sFunctionInfo* Any_Any_Any_Any_Any_Any_to_Any = &any6ToAny;
sFunctionInfo* Variable_to_Num = &variableToNum;
sString* StripUnit_sString = &stripUnitRule;
sString* Transpose_sString = &transposeName;
sString* diag_sString = &diagName;
sIdentifier* ORIGIN_sUnIdent = &originIdentifier;
}

HRESULT RegisterUfnFunctionPack(void* module, const PackId* id) {
  registry()[keyOf(id)] = module;
  return kHrOk;
}

HRESULT UnregisterUfnFunctionPack(const PackId* id) {
  return registry().erase(keyOf(id)) ? kHrOk : kHrNotRegistered;
}

void* RegisteredUfnFunctionPack(const PackId* id) {
  auto it = registry().find(keyOf(id));
  return it == registry().end() ? nullptr : it->second;
}
