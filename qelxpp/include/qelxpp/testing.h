// Test hooks of QELXPP. Production code never includes this header.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <xpp/value.h>

namespace rowxpp {
class SQLConnection;
class SQLStatement;
}  // namespace rowxpp

namespace qelxpp::testing {

// Builds the module state afresh, as at load (the engine is not unloaded:
// its handle is forgotten).
void ResetState();
// The names of the engine-function table, in order.
std::vector<std::string> EngineCallNames();
// True when every entry of the engine-function table holds a prepared call.
bool EngineCallsPrepared();
// The engine handle (0 = not loaded) and the management handle.
int64_t EngineDll();
int64_t MgmtHandle();
// The calling thread's row: last recorded engine result and connection.
xpp::Value LastResult();
xpp::Value ConnHandle();
// The work-area record of area n of the calling thread (NIL when free).
xpp::Value WorkAreaRecord(int n);
// Makes the statement of each new replication connection in place of
// SQLStatement():new(NIL, oConn) (empty: the real one).
using ReplicationStatementMaker =
    std::function<std::shared_ptr<rowxpp::SQLStatement>(const std::shared_ptr<rowxpp::SQLConnection>&)>;
void SetReplicationStatementMaker(ReplicationStatementMaker maker);
// The calling thread's replication connection (NIL before its first change).
xpp::Value ReplicationConnection();
// Ends the calling thread's replication connection, as the thread's end does.
void EndReplication();

}  // namespace qelxpp::testing
