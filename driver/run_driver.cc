#include "driver/run_driver.h"

#include <cxxabi.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <typeinfo>

#include "console/version_banner.h"
#include "corvakit/process_library.h"
#include "discovery/discovery.h"
#include "driver/command_line.h"

namespace cobrix {

namespace {

namespace process = corvakit::process_library;

std::string kind_name(const std::exception& e) {
  int status = 0;
  const std::unique_ptr<char, decltype(&std::free)> name(
      abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status), &std::free);
  return status == 0 && name ? name.get() : typeid(e).name();
}

// The report of a failure that no operation handled, on standard error.
void report_failure(const std::exception& e) {
  std::cout.flush();
  std::cerr << "cobrix: falha não tratada (" << kind_name(e) << "): " << e.what() << '\n';
}

// The mode dispatch, run inside the limited scope. Returns the exit status.
int dispatch(const RunConfig& config) {
  try {
    if (config.mode == "version") get_version(config.program_name, std::cout);
    if (!config.settings) {
      std::cerr << "cobrix: configuração da execução ausente: o modo '" << config.mode
                << "' precisa da linha de comando completa (13 entradas).\n";
      return 1;
    }
    if (config.mode == "descobertaClientes") {
      descobertaClientes(*config.settings, std::cout);
    } else if (config.mode.find("launch_") != std::string::npos) {
      process::launch(config.mode);
    }
    return 0;
  } catch (const ExitRequest& exit) {
    return exit.status;
  } catch (const std::exception& e) {
    report_failure(e);
    return 1;
  }
}

// Flushes both standard streams; false when either fails.
bool flush_standard_streams() {
  std::cout.flush();
  std::cerr.flush();
  const bool ok = std::cout.good() && std::cerr.good();
  return std::fflush(stdout) == 0 && std::fflush(stderr) == 0 && ok;
}

}  // namespace

int run_driver(int argc, char** argv, int runtime_limit) {
  // A closed output pipe must show up as a failed write, not kill the run.
  ::signal(SIGPIPE, SIG_IGN);
  std::ios::sync_with_stdio(false);

  const std::optional<RunConfig> config = parse_command_line(argc, argv);
  if (!config) {
    std::cout << kCriticalError << '\n';
    flush_standard_streams();
    return 1;
  }
  mask_passwords(argc, argv);

  int status = 0;
  try {
    process::runtime_limiter limiter(runtime_limit);
    status = limiter.run([&config] { return dispatch(*config); });
    if (limiter.output_lost() && status == 0) status = 2;
  } catch (const process::TimeoutException& timeout) {
    std::cout << timeout.what() << '\n';
    status = 0;
  } catch (const std::exception& e) {
    report_failure(e);
    status = 1;
  }
  if (!flush_standard_streams() && status == 0) status = 2;
  return status;
}

}  // namespace cobrix
