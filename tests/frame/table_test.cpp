// The function table as a host reads it from the loaded library.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include <dlfcn.h>

#include "host/ufnutils.h"
#include "pack/exports.h"
#include "sheet/loader.h"

namespace {

struct ExpectedRow {
  const char* name;
  sFunctionInfo* const* signature;
  const char* list;  // "", "TOLLIST", "ORIGINLIST" or "BOTHLIST"
  uint32_t kind;
  const char* rule;  // null: the host's StripUnit record
};

const char* const kEachEqDims = " (%lambda (a) (-EqDims a)) ";
const char* const kLineLookup = "(%lambda(k s r)(%sequence ((-VDimless r)(-EqDims k s))))";

const ExpectedRow kRows[] = {
    {"rows", &Any_to_Any, "", 8, nullptr},
    {"cols", &Any_to_Any, "", 8, nullptr},
    {"identity", &Any_to_Any, "", 8, "-VDimless"},
    {"last", &Any_Any_to_Num, "ORIGINLIST", 12, nullptr},
    {"length", &Any_to_Num, "", 12, nullptr},
    {"max", &Variable_to_Num, "", 12, "-EqDims"},
    {"min", &Variable_to_Num, "", 12, "-EqDims"},
    {"reverse", &Any_to_Any, "", 12, kEachEqDims},
    {"submatrix", &Any_Any_Any_Any_Any_Any_to_Any, "ORIGINLIST", 12,
     " (%lambda(a b c d e) ( %sequence ( (-VDimless b c d e) ( -EqDims a ) ) ) )"},
    {"transpose", &Any_to_Any, "", 12, "-EqDims"},
    {"tr", &Any_to_Any, "", 12, "-EqDims"},
    {"augment", &Variable_to_Num, "", 12, "-EqDims"},
    {"stack", &Variable_to_Num, "", 12, "-EqDims"},
    {"matrix", &Any_Any_Any_to_Mat, "", 0,
     " (%lambda(a b function ) ( %sequence ( (-VDimless a b ) ( function a b) ) ) )"},
    {"cond1", &Any_to_Any, "", 12, "-EqDimsDimless"},
    {"cond2", &Any_to_Any, "", 12, "-EqDimsDimless"},
    {"conde", &Any_to_Any, "", 12, "-EqDimsDimless"},
    {"condi", &Any_to_Any, "", 12, "-EqDimsDimless"},
    {"cholesky", &Any_to_Mat, "", 12, " (%lambda (a)( -DimsLikeRoot a 2 ) ) "},
    {"diag", &Any_to_Any, "", 12, "-VDimless"},
    {"eigenvals", &Any_Any_to_Any, "TOLLIST", 12, kEachEqDims},
    {"eigenvecs", &Any_to_Any, "", 12, "-EqDimsDimless"},
    {"eigenvec", &Any_Any_to_Mat, "", 12, "-EqDimsDimless"},
    {"genvals", &Any_Any_to_Any, "", 12, "-DimsLikeDiv"},
    {"genvecs", &Any_Any_to_Any, "", 12, " (%lambda(a b)( -EqDimsDimless a ) ) "},
    {"geninv", &Any_Any_to_Mat, "TOLLIST", 12, " (%lambda (a)( -DimsLikePower a -1 ) ) "},
    {"lsolve", &Any_Any_to_Any, "", 12, " (%lambda(a b)( -DimsLikeDiv b a ) ) "},
    {"lu", &Any_to_Mat, "", 12, "-VDimless"},
    {"norm1", &Any_to_Num, "", 12, "-EqDims"},
    {"norm2", &Any_to_Num, "", 12, "-EqDims"},
    {"norme", &Any_to_Any, "", 12, "-EqDims"},
    {"normi", &Any_to_Any, "", 12, "-EqDims"},
    {"qr", &Any_to_Any, "", 12, " (-lambda (a) (%DimsLikeRoot a 2) ) "},
    {"rank", &Any_to_Any, "", 12, "-EqDimsDimless"},
    {"rref", &Any_to_Mat, "", 12, "-VDimless"},
    {"svd", &Any_to_Any, "", 12, "-VDimless"},
    {"svds", &Any_to_Any, "", 12, "-VDimless"},
    {"lookup", &Any_Any_Any_Any_to_Any, "TOLLIST", 8,
     "(%lambda(k s t)(%sequence ((-EqDims k s)(-EqDims t))))"},
    {"hlookup", &Any_Any_Any_Any_Any_to_Any, "BOTHLIST", 8, kLineLookup},
    {"vlookup", &Any_Any_Any_Any_Any_to_Any, "BOTHLIST", 8, kLineLookup},
    {"match", &Any_Any_Any_Any_to_Any, "BOTHLIST", 8, "-EqDimsDimless"},
};

bool isRuleName(const char* rule) {
  return rule[0] == '-';
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

TEST_F(LoadedTable, HasFortyOneRowsAsTheHostExpectsThem) {
  ASSERT_EQ(*exported<const int32_t>("numFuncs"), 41);
  ASSERT_EQ(pack.size(), 41);
  const std::map<std::string, const sCons*> lists = {{"", nullptr},
                                                     {"TOLLIST", exported<sCons>("TOLLIST")},
                                                     {"ORIGINLIST", exported<sCons>("ORIGINLIST")},
                                                     {"BOTHLIST", exported<sCons>("BOTHLIST")}};
  std::map<std::string, const sString*> ruleRecords;
  for (int i = 0; i < 41; ++i) {
    SCOPED_TRACE("row " + std::to_string(i));
    const ExpectedRow& expected = kRows[i];
    const sFunctionDescriptor& row = pack.descriptor(i);
    EXPECT_EQ(row.signature, *expected.signature);
    EXPECT_EQ(row.dependencies, lists.at(expected.list));
    EXPECT_EQ(row.kind, expected.kind);
    EXPECT_EQ(row.reserved, nullptr);
    ASSERT_NE(row.name, nullptr);
    EXPECT_EQ(row.name->tag, kTagString);
    EXPECT_STREQ(row.name->text, expected.name);
    EXPECT_EQ(row.name->length, std::strlen(expected.name) + 1);
    const std::string nameSymbol = std::string("string_") + expected.name;
    if (i == 9) {
      EXPECT_EQ(row.name, Transpose_sString);
    } else if (i == 19) {
      EXPECT_EQ(row.name, diag_sString);
    } else {
      EXPECT_EQ(row.name, exported<sString>(nameSymbol.c_str()));
    }
    ASSERT_NE(row.unitRule, nullptr);
    if (!expected.rule) {
      EXPECT_EQ(row.unitRule, StripUnit_sString);
      continue;
    }
    EXPECT_EQ(row.unitRule->tag, kTagString);
    EXPECT_STREQ(row.unitRule->text, expected.rule);
    EXPECT_EQ(row.unitRule->length,
              std::strlen(expected.rule) + (isRuleName(expected.rule) ? 1 : 0));
    auto [shared, first] = ruleRecords.emplace(expected.rule, row.unitRule);
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

TEST_F(LoadedTable, BuiltFunctionsHaveEntries) {
  for (const char* name :
       {"rows",      "cols",    "length",    "last",    "identity", "diag", "augment", "stack",
        "submatrix", "reverse", "transpose", "tr",      "max",      "min",  "matrix",  "cholesky",
        "lsolve",    "lu",      "lookup",    "hlookup", "vlookup",  "match"}) {
    EXPECT_TRUE(pack.row(pack.find(name)).available) << name;
  }
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
