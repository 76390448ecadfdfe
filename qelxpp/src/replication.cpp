// The replication of changed rows into the ODBC database named by the
// program. The database functions hand every row change of a replicated
// table to REPLICATEROW; no row is sent yet: the entry answers .F. (nothing
// sent), and the callers go on as after any replication failure.
#include "state.h"

namespace qelxpp::detail {

Value REPLICATEROW(int, int64_t, const Value&, int64_t) { return false; }

}  // namespace qelxpp::detail
