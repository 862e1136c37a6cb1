#pragma once
// The two failures of cobrix-central besides PostgreSQL's own (PgError):
// main prints each in its own form and exits with its own status.

#include <stdexcept>
#include <string>

namespace cobrix::central {

// The command line or the password on standard input is not acceptable:
// nothing was sent to the server. main prints the message and the usage
// text on standard error and exits with status 2.
class UsageError : public std::runtime_error {
 public:
  explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

// The server's state forbids what was asked (a role that belongs to
// something else, tables owned by another role, the layout missing); the
// transaction was rolled back. main prints the message and exits with
// status 1.
class Refusal : public std::runtime_error {
 public:
  explicit Refusal(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace cobrix::central
