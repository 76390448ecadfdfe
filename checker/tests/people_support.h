// A fixture of the order, filter and search tests: a table of people with
// orders on its name and its age, and the names a dataset shows.
#pragma once

#include <string>
#include <vector>

#include "test_support.h"

namespace checker::testing {

class PeopleFixture : public EngineFixture {
 protected:
  // people (KDT): NAME C(10), AGE N(3) with ages 10, 20, ...; the production
  // index holds BYNAME (NAME) and BYAGE (AGE, descending).
  void MakeIndexedPeople(const std::vector<std::string>& names) {
    MakePeople("people", KIV_TABLE_KDT, names);
    KIVHANDLE t = 0, index = 0;
    KIV_ASSERT_OK(KivOpenTable(conn, "people", nullptr, KIV_TABLE_KDT, KIV_CHAR_ANSI, KIV_LOCK_COMPATIBLE,
                               KIV_RIGHTS_NO_CHECK, KIV_OPEN_EXCLUSIVE, &t));
    KIV_ASSERT_OK(KivCreateIndex(t, nullptr, "BYNAME", "NAME", nullptr, nullptr, 0, &index));
    KIV_ASSERT_OK(KivCreateIndex(t, nullptr, "BYAGE", "AGE", nullptr, nullptr, KIV_INDEX_DESCENDING, &index));
    KIV_ASSERT_OK(KivCloseTable(t));
  }

  // The NAME of every row from the first, joined by ",".
  static std::string Names(TKivDataSet& ds) {
    std::string out;
    ds.First();
    while (!ds.Eof()) {
      out += (out.empty() ? "" : ",") + ds.FieldByName("NAME")->AsString();
      ds.Next();
    }
    return out;
  }
};

}  // namespace checker::testing
