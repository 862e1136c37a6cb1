#include "driver/run_driver.h"

// Seconds that a run may last after the argument check; fixed at build time.
constexpr int RUNTIME_LIMIT = COBRIX_RUNTIME_LIMIT;

int main(int argc, char** argv) { return cobrix::run_driver(argc, argv, RUNTIME_LIMIT); }
