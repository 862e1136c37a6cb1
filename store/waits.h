#pragma once
// How long a run's statements may wait. Many installations write the same
// tables, and any of them may hold a lock on them (a role that may update a
// table may LOCK it); a run that waited for it without end would stall
// every check of its own installation. Each transaction of a run sets both
// limits for itself alone (SET LOCAL), so nothing outlives it on a
// pooler's server connection.

#include <string>

namespace cobrix::store {

// A lock that another session holds longer than this ends the statement
// that waits for it: "canceling statement due to lock timeout".
inline constexpr int kLockTimeoutSeconds = 5;
// No statement of a run takes longer than this, whatever it waits for.
inline constexpr int kStatementTimeoutSeconds = 120;

// The limits as the first statements of a simple-query string (its
// statements form one transaction).
inline const std::string kBoundedWaitsPrefix = "SET LOCAL lock_timeout = '" + std::to_string(kLockTimeoutSeconds) +
                                               "s'; SET LOCAL statement_timeout = '" +
                                               std::to_string(kStatementTimeoutSeconds) + "s'; ";

// The limits as one statement, for a pipeline: after a BEGIN, or first in
// a segment (whose commands form one implicit transaction up to its Sync).
inline const std::string kBoundedWaits = "SELECT set_config('lock_timeout', '" +
                                         std::to_string(kLockTimeoutSeconds) +
                                         "s', true), set_config('statement_timeout', '" +
                                         std::to_string(kStatementTimeoutSeconds) + "s', true)";

}  // namespace cobrix::store
