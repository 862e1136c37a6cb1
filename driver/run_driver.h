#pragma once

namespace cobrix {

// The program: checks the argument vector, fills the run configuration,
// runs the mode dispatch inside a scope limited to `runtime_limit` seconds
// and returns the process exit status (0 normal end, 1 wrong argument count,
// missing configuration or unhandled failure, 2 when the output could not
// be written at the end of a run that would otherwise end with 0).
int run_driver(int argc, char** argv, int runtime_limit);

}  // namespace cobrix
