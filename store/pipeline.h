#pragma once
// Commands queued on one connection in libpq's pipeline mode and answered
// together after a single Sync: one round trip for all of them, however
// many there are.

#include <libpq-fe.h>

#include <optional>
#include <string>

#include "store/pg_connection.h"

namespace cobrix::store {

// Owns the pipeline mode of `conn` from construction to finish(). Commands
// run in the order queued. After a command fails, the server skips every
// later command up to the Sync, so a pipeline whose commands are explicit
// transactions (BEGIN ... COMMIT) keeps every transaction committed before
// the failure and nothing after it; the failing transaction stays open,
// aborted, until the caller ends it (ROLLBACK).
class Pipeline {
 public:
  // Enters pipeline mode. Throws PgError when libpq refuses.
  explicit Pipeline(PGconn* conn);
  // Without finish() (an exception on the way), sends the Sync, discards
  // every answer and leaves pipeline mode, so the connection can still be
  // used (or closed) normally. Never throws.
  ~Pipeline();
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // Queues a statement without parameters, or with `count` text parameters
  // (nullptr: NULL). libpq copies the texts before returning.
  void exec(const std::string& sql, int count = 0, const char* const* values = nullptr);
  // Queues the preparation of the named statement `name`.
  void prepare(const std::string& name, const std::string& sql, int count);
  // Queues one execution of the prepared statement `name`.
  void exec_prepared(const std::string& name, int count, const char* const* values);
  // Sends what is queued so far, so that the server can start on it, and
  // reads the answers that have already arrived.
  void flush();

  // Sends the Sync, reads every answer and leaves pipeline mode. Throws the
  // PgError of the first command that failed (libpq's message and the
  // SQLSTATE), or of a connection lost on the way.
  void finish();

 private:
  void sent(int ok);
  void note(PGresult* raw);
  void read_arrived();
  std::optional<PgError> drain();

  PGconn* conn_;
  int unanswered_ = 0;                    // commands queued whose answer is not read yet
  std::optional<PgError> first_failure_;  // the first command that failed
  bool open_ = true;
};

}  // namespace cobrix::store
