// The function table as a host reads it from the loaded library.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>

#include <dlfcn.h>

#include "host/ufnutils.h"
#include "pack/exports.h"
#include "sheet/loader.h"

namespace {

bool isRuleName(const sString* rule) {
  return rule->text[0] == '-';
}

class LoadedTable : public ::testing::Test {
 protected:
  sheet::PackLibrary pack = sheet::PackLibrary::open(MATPACK_LIBRARY_PATH);

  template <class T>
  T* exported(const char* name) {
    void* p = pack.symbol(name);
    EXPECT_NE(p, nullptr) << name << " is not exported";
    return static_cast<T*>(p);
  }
};

// What holds for every row, whatever function it describes.
TEST_F(LoadedTable, EveryRowIsWellFormed) {
  ASSERT_EQ(*exported<const int32_t>("numFuncs"), 41);
  ASSERT_EQ(pack.size(), 41);
  const std::set<const sCons*> lists = {nullptr, exported<sCons>("TOLLIST"),
                                        exported<sCons>("ORIGINLIST"), exported<sCons>("BOTHLIST")};
  std::set<std::string> names;
  std::map<std::string, const sString*> ruleRecords;
  for (int i = 0; i < pack.size(); ++i) {
    SCOPED_TRACE("row " + std::to_string(i));
    const sFunctionDescriptor& row = pack.descriptor(i);
    EXPECT_NE(row.signature, nullptr);
    EXPECT_TRUE(lists.count(row.dependencies));
    EXPECT_TRUE(row.kind == 0 || row.kind == 8 || row.kind == 12) << row.kind;
    EXPECT_EQ(row.reserved, nullptr);

    // The name: the pack's exported record, or the host's own for transpose and diag.
    ASSERT_NE(row.name, nullptr);
    EXPECT_EQ(row.name->tag, kTagString);
    EXPECT_EQ(row.name->length, std::strlen(row.name->text) + 1);
    EXPECT_TRUE(names.insert(row.name->text).second) << row.name->text << " twice";
    if (row.name == Transpose_sString || row.name == diag_sString) continue;
    EXPECT_EQ(row.name, pack.symbol(("string_" + std::string(row.name->text)).c_str()));

    // The unit rule: the host's StripUnit, a rule name (its length counts the NUL) or an
    // expression (it does not); one record per text.
    ASSERT_NE(row.unitRule, nullptr);
    if (row.unitRule == StripUnit_sString) continue;
    EXPECT_EQ(row.unitRule->tag, kTagString);
    EXPECT_EQ(row.unitRule->length,
              std::strlen(row.unitRule->text) + (isRuleName(row.unitRule) ? 1 : 0));
    auto [shared, first] = ruleRecords.emplace(row.unitRule->text, row.unitRule);
    EXPECT_EQ(shared->second, row.unitRule) << "rows with one rule text share one record";
  }
}

TEST_F(LoadedTable, ListsAppendTolThenOrigin) {
  const auto* tolName = exported<sString>("string_TOL");
  const auto* tol = exported<sIdentifier>("identifier_TOL");
  const auto* tolList = exported<sCons>("TOLLIST");
  const auto* originList = exported<sCons>("ORIGINLIST");
  const auto* bothList = exported<sCons>("BOTHLIST");
  EXPECT_STREQ(tolName->text, "TOL");
  EXPECT_EQ(tolName->length, 4u);
  EXPECT_EQ(tol->tag, kTagIdentifier);
  EXPECT_EQ(tol->zero, 0u);
  EXPECT_EQ(tol->name, tolName);
  EXPECT_EQ(tol->two, 2u);
  EXPECT_EQ(tolList->car, tol);
  EXPECT_EQ(tolList->cdr, nullptr);
  EXPECT_EQ(originList->car, ORIGIN_sUnIdent);
  EXPECT_EQ(originList->cdr, nullptr);
  EXPECT_EQ(bothList->car, tol);
  EXPECT_EQ(bothList->cdr, originList);

  EXPECT_EQ(pack.row(pack.find("hlookup")).appended, (std::vector<std::string>{"TOL", "ORIGIN"}));
  EXPECT_EQ(pack.row(pack.find("last")).arguments, 1);
  EXPECT_EQ(pack.row(pack.find("hlookup")).arguments, 3);
  EXPECT_EQ(pack.row(pack.find("stack")).arguments, sheet::RowInfo::kVariadic);
}

TEST_F(LoadedTable, RegistersAndUnregistersUnderItsIdentifier) {
  EXPECT_EQ(pack.registerPack(), kHrOk);
  EXPECT_EQ(pack.unregisterPack(), kHrOk);
  EXPECT_LT(pack.unregisterPack(), 0) << "a pack that is not registered cannot be unregistered";
  EXPECT_EQ(pack.registerPack(), kHrOk);
  EXPECT_EQ(pack.registerPack(), kHrOk);
  EXPECT_EQ(pack.unregisterPack(), kHrOk);
}

TEST_F(LoadedTable, RegistersWithTheModuleHandleItWasLoadedAt) {
  Dl_info info;
  ASSERT_NE(dladdr(exported<void>("theUfn"), &info), 0);
  ASSERT_EQ(pack.registerPack(), kHrOk);
  EXPECT_EQ(RegisteredUfnFunctionPack(&kMatpackId), info.dli_fbase);
  ASSERT_EQ(pack.unregisterPack(), kHrOk);
  EXPECT_EQ(RegisteredUfnFunctionPack(&kMatpackId), nullptr);
}

}  // namespace
