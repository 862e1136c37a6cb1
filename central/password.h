#pragma once
// A new role's password: read from standard input, sent to the server only
// as a SCRAM verifier computed here.

#include <libpq-fe.h>

#include <istream>
#include <string>

namespace cobrix::central {

// The password for `role`. When standard input is a terminal, asks for it
// twice on standard error with echo off; otherwise it is the first line of
// `in` (a final carriage return dropped), and the rest of `in` is not read.
// Throws UsageError when there is no line, the password is empty or holds
// a NUL byte, or the two typed passwords differ.
std::string read_password(std::istream& in, const std::string& role);

// The SCRAM-SHA-256 verifier of `password` for `role`, computed by libpq
// (PQencryptPasswordConn) without sending anything: what CREATE/ALTER ROLE
// ... PASSWORD gets, so that the password itself never reaches the server,
// its logs or its statistics. Throws PgError with libpq's message.
std::string scram_verifier(PGconn* conn, const std::string& password, const std::string& role);

}  // namespace cobrix::central
