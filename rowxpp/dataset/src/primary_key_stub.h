// The cursor does not take a key for its write-back yet. Until it does,
// the data set hands its key to this stand-in, which takes nothing and
// answers .F.; the call goes to SQLSelect:SetPrimaryKey once that exists.
#pragma once

#include "rowxpp/sql_select.h"

namespace rowxpp::dataset {

inline xpp::Value CursorSetPrimaryKeyStub(SQLSelect&, const xpp::Value& /*key*/,
                                          const xpp::Value& /*second*/ = xpp::Value()) {
    return false;
}

}  // namespace rowxpp::dataset
