#include "driver/run_driver.h"

#include <signal.h>

#include <cstdio>
#include <iostream>
#include <new>
#include <string_view>
#include <system_error>

#include "console/version_banner.h"
#include "corvakit/process_library.h"
#include "discovery/discovery.h"
#include "driver/command_line.h"
#include "model/failure.h"

namespace cobrix {

namespace {

namespace process = corvakit::process_library;

// What failed when a failure names no part of the run.
constexpr std::string_view kInternalKind = "erro interno do cobrix";

// What failed, in the operator's words: the part named by the failure, or
// the system for what the operating system or the process refused.
std::string_view failure_kind(const std::exception& e, std::string_view otherwise) {
  if (const auto* failure = dynamic_cast<const Failure*>(&e)) return failure->kind();
  if (dynamic_cast<const std::bad_alloc*>(&e)) return "sistema: memória esgotada";
  if (dynamic_cast<const std::system_error*>(&e)) return "sistema";
  return otherwise;
}

// The report of a failure that no operation handled, on standard error:
// "cobrix: erro (<what failed>): <message>".
void report_failure(const std::exception& e, std::string_view otherwise) {
  std::cout.flush();
  std::cerr << "cobrix: erro (" << failure_kind(e, otherwise) << "): " << e.what() << '\n';
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
    report_failure(e, kInternalKind);
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

  std::optional<CommandLine> line = parse_command_line(argc, argv);
  if (!line) {
    std::cout << kCriticalError << '\n';
    flush_standard_streams();
    return 1;
  }
  mask_passwords(argc, argv);
  if (line->password_fd) {
    try {
      read_passwords(*line->password_fd, *line->config.settings);
    } catch (const std::exception& e) {
      report_failure(e, kInternalKind);
      flush_standard_streams();
      return 1;
    }
  }
  const std::optional<RunConfig> config = std::move(line->config);

  int status = 0;
  try {
    process::runtime_limiter limiter(runtime_limit);
    status = limiter.run([&config] { return dispatch(*config); });
    if (limiter.output_lost() && status == 0) status = 2;
  } catch (const process::TimeoutException& timeout) {
    std::cout << timeout.what() << '\n';
    status = 0;
  } catch (const std::exception& e) {
    // Failures of the limiter itself: the child could not be started, or
    // died by a signal (a crash, the out-of-memory killer).
    report_failure(e, "sistema");
    status = 1;
  }
  if (!flush_standard_streams() && status == 0) status = 2;
  return status;
}

}  // namespace cobrix
