#include "driver/command_line.h"

#include <cstring>

namespace cobrix {

std::optional<RunConfig> parse_command_line(int argc, const char* const* argv) {
  if (argc != 2 && argc != 13) return std::nullopt;
  RunConfig config{argv[0], argv[1], std::nullopt};
  if (argc == 13) {
    config.settings = RunSettings{argv[2], argv[3], argv[4], argv[5],  argv[6], argv[7],
                                  argv[8], argv[9], argv[10], argv[11], argv[12]};
  }
  return config;
}

void mask_passwords(int argc, char** argv) {
  if (argc != 13) return;
  // The kernel shows the argument memory itself in /proc/<pid>/cmdline; the
  // masked entries keep their length so that the other entries stay intact.
  for (const int entry : {5, 11}) std::memset(argv[entry], '*', std::strlen(argv[entry]));
}

}  // namespace cobrix
