#pragma once
// The two kinds of names on the command line, checked before anything is
// sent to the server.

#include <string>

namespace cobrix::central {

// Throws UsageError unless `role` is a plain lower-case SQL identifier of
// at most 63 bytes: [a-z_][a-z0-9_]{0,62}. Such a name reads the same
// quoted or not, so the operator's psql and this program mean one role.
void check_role(const std::string& role);

// Throws UsageError unless `id` is an installation's identification as the
// runs write it: 1 to 128 characters of [A-Za-z0-9._ -], not starting with
// '.', and not "debug" (the word that makes a run print its report instead
// of writing, so no run ever writes rows under it).
void check_installation(const std::string& id);

}  // namespace cobrix::central
