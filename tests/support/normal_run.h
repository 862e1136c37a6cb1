#pragma once
// What the end-to-end tests of the normal run share: the sample IXC
// database as a run's source, and the lines that a normal run prints.

#include <cstddef>
#include <string>

#include "tests/support/test_servers.h"

namespace cobrix::testing {

// Creates the database `database` on `mariadb` and loads the sample IXC
// database (sample/ixc_sample.sql) into it. Throws std::runtime_error when
// either fails.
void create_sample_ixc(const ServerAddress& mariadb, const std::string& database);

// The output of a normal run that stores `count` records into a table that
// already has all its columns: five lines, the last "OK".
std::string normal_run_output(std::size_t count);

}  // namespace cobrix::testing
