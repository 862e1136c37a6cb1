#pragma once
// The login roles of the installations (writers) and of Zabbix's ODBC
// readers, and their rows in ixc_clientes_acesso. A role is managed here
// only when this program made it: it has rows in the mapping table. (From
// PostgreSQL 16 on, a CREATEROLE role may alter and drop only the roles it
// created, which it administers; the rule is the same on 15.)
//
// Each command runs in one transaction, needs the isolated layout (init),
// writes what it did on `out` once committed, and throws Refusal (nothing
// changed) or PgError.

#include <libpq-fe.h>

#include <ostream>
#include <string>
#include <vector>

namespace cobrix::central {

// Creates `role` as a LOGIN role with the password's SCRAM verifier, the
// writer's privileges and the mapping row (role, id, escrita true). When
// `role` already writes `id`, only sets the new password (and grants its
// privileges again). Refuses a role that exists otherwise.
void add_installation(PGconn* conn, const std::string& role, const std::string& id, const std::string& password,
                      std::ostream& out);

// Creates `role` as a LOGIN reader of the summaries of `ids` (mapping rows
// with escrita false), or, for an existing reader, sets the new password
// and adds the ids it lacks. Refuses a role that exists otherwise (a
// writer, a role without mapping rows).
void add_reader(PGconn* conn, const std::string& role, const std::vector<std::string>& ids,
                const std::string& password, std::ostream& out);

// Deletes `id`'s mapping rows and drops each of their roles that is left
// without a mapping row, after revoking its privileges on the three tables.
// The installation's rows stay for retention.
void remove_installation(PGconn* conn, const std::string& id, std::ostream& out);

}  // namespace cobrix::central
