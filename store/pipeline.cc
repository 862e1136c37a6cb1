#include "store/pipeline.h"

#include <exception>
#include <utility>

namespace cobrix::store {

Pipeline::Pipeline(PGconn* conn) : conn_(conn) {
  if (PQenterPipelineMode(conn_) != 1) throw PgError(connection_message(conn_), "");
}

Pipeline::~Pipeline() {
  if (!open_) return;
  if (PQpipelineSync(conn_) == 1) (void)drain_segments();
  PQexitPipelineMode(conn_);
}

void Pipeline::sent(int ok) {
  if (ok != 1) throw PgError(connection_message(conn_), "");
  ++unanswered_;
}

void Pipeline::exec(const std::string& sql, int count, const char* const* values) {
  sent(PQsendQueryParams(conn_, sql.c_str(), count, nullptr, values, nullptr, nullptr, 0));
}

void Pipeline::prepare(const std::string& name, const std::string& sql, int count) {
  sent(PQsendPrepare(conn_, name.c_str(), sql.c_str(), count, nullptr));
}

void Pipeline::exec_prepared(const std::string& name, int count, const char* const* values) {
  sent(PQsendQueryPrepared(conn_, name.c_str(), count, values, nullptr, nullptr, 0));
}

void Pipeline::flush() {
  if (PQflush(conn_) != 0) throw PgError(connection_message(conn_), "");
  if (segments_.empty()) read_arrived();
}

void Pipeline::finish(const std::function<void()>& meanwhile) {
  for (std::optional<PgError>& failure : finish_segments(meanwhile))
    if (failure) throw *failure;
}

void Pipeline::sync() {
  if (PQpipelineSync(conn_) != 1) throw PgError(connection_message(conn_), "");
  segments_.push_back(std::exchange(unanswered_, 0));
}

std::vector<std::optional<PgError>> Pipeline::finish_segments(const std::function<void()>& meanwhile) {
  open_ = false;
  if (PQpipelineSync(conn_) != 1) throw PgError(connection_message(conn_), "");
  std::exception_ptr thrown;
  if (meanwhile) {
    try {
      meanwhile();
    } catch (...) {
      thrown = std::current_exception();
    }
  }
  std::vector<std::optional<PgError>> failures = drain_segments();
  if (PQexitPipelineMode(conn_) != 1 && !failures.back()) failures.back() = PgError(connection_message(conn_), "");
  if (thrown) std::rethrow_exception(thrown);
  return failures;
}

void Pipeline::note(PGresult* raw) {
  const PgResult res(raw);
  if (PQresultStatus(raw) == PGRES_FATAL_ERROR && !first_failure_) first_failure_ = result_error(conn_, raw);
}

// Every queued command answers with its results and then a null; the
// commands after a failed one answer "aborted". libpq keeps each command
// (a bound page's text with it) until its answer is read, so the answers
// are read as they arrive, without waiting for any.
void Pipeline::read_arrived() {
  if (PQconsumeInput(conn_) != 1) return;  // a lost connection shows in finish()
  while (unanswered_ > 0 && !PQisBusy(conn_)) {
    if (PGresult* raw = PQgetResult(conn_))
      note(raw);
    else
      --unanswered_;
  }
}

// Reads the remaining answers, waiting for them, then the Sync's. A lost
// connection ends the answers early: the loop is bounded by what was
// queued, never by what arrives.
std::optional<PgError> Pipeline::drain() {
  for (; unanswered_ > 0; --unanswered_)
    while (PGresult* raw = PQgetResult(conn_)) note(raw);
  const PgResult sync(PQgetResult(conn_));
  if ((!sync || PQresultStatus(sync.get()) != PGRES_PIPELINE_SYNC) && !first_failure_)
    first_failure_ = sync ? result_error(conn_, sync.get()) : PgError(connection_message(conn_), "");
  return std::exchange(first_failure_, std::nullopt);
}

// Every segment's answers in turn, the Sync sent last ending the commands
// queued since the last sync().
std::vector<std::optional<PgError>> Pipeline::drain_segments() {
  segments_.push_back(std::exchange(unanswered_, 0));
  std::vector<std::optional<PgError>> failures;
  for (const int commands : segments_) {
    unanswered_ = commands;
    failures.push_back(drain());
  }
  segments_.clear();
  return failures;
}

}  // namespace cobrix::store
