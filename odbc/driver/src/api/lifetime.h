// The piece of releasing handles that the release calls (declared in
// api.h) and the connect calls share.
#ifndef KIVODBC_LIFETIME_H
#define KIVODBC_LIFETIME_H

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "handles/records.h"

namespace kivodbc {

// Closes a connection's engine session, if any; an engine failure is posted
// on the connection and returned as its code (the session is released anyway).
uint32_t CloseEngineSession(ConnRecord* conn);

}  // namespace kivodbc

#endif
