#pragma once
// The run configuration: the command line's values by name, set once before
// the limited scope opens and read-only afterwards.

#include <optional>
#include <string>

namespace cobrix {

// The eleven connection and identification values of the full command line,
// each exactly as received (no trimming, no conversion; ports stay text).
struct RunSettings {
  std::string db_host;
  std::string db_port;
  std::string db_user;
  std::string db_password;
  std::string database;
  std::string postgres_ip;
  std::string postgres_port;
  std::string pg_db;
  std::string pg_user;
  std::string pg_password;
  std::string zabbix_host;
};

struct RunConfig {
  std::string program_name;  // entry 0, as invoked; only the banner reads it
  std::string mode;
  // Absent in the short layout (program name and mode only), which is not
  // the same as a full layout of empty texts.
  std::optional<RunSettings> settings;
};

// Ends the run at once with `status`. Thrown by an operation, caught only by
// the run driver; deliberately not a std::exception so that no general
// failure handler on the way takes it for a failure.
struct ExitRequest {
  int status = 0;
};

}  // namespace cobrix
