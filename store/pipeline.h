#pragma once
// Commands queued on one connection in libpq's pipeline mode and answered
// together after the last Sync: one round trip for all of them, however
// many there are.

#include <libpq-fe.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

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
  // SQLSTATE), or of a connection lost on the way. `meanwhile`, when given,
  // runs once the Sync has gone out, while the server is still at work,
  // before any answer is awaited; what it throws is thrown once every answer
  // has been read.
  void finish(const std::function<void()>& meanwhile = {});

  // Ends a segment: queues a Sync after the commands queued since the start
  // or the previous sync(), so that a failure among them skips only the rest
  // of that segment and the next one runs. A segment without BEGIN is one
  // implicit transaction: committed at its Sync, or rolled back there when a
  // command failed. One that leaves an explicit transaction aborted keeps
  // it open, so every later segment fails too. Nothing is sent yet, and no
  // flush() may follow.
  void sync();
  // finish() for a pipeline cut into segments by sync(): the failure of
  // each segment in order, the commands after the last sync() being the
  // last one, and none for a segment whose every command succeeded (or a
  // connection lost on the way). Throws PgError only when the final Sync
  // cannot be sent.
  std::vector<std::optional<PgError>> finish_segments(const std::function<void()>& meanwhile = {});

 private:
  void sent(int ok);
  void note(PGresult* raw);
  void read_arrived();
  std::optional<PgError> drain();
  std::vector<std::optional<PgError>> drain_segments();

  PGconn* conn_;
  int unanswered_ = 0;                    // commands queued whose answer is not read yet
  std::optional<PgError> first_failure_;  // the first command that failed
  std::vector<int> segments_;             // the commands of each segment ended by sync()
  bool open_ = true;
};

}  // namespace cobrix::store
