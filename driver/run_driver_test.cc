// The run driver end to end, through the built program.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/process_runner.h"

namespace cobrix {
namespace {

using testing::Captured;
using testing::read_file;
using testing::run_program;
using testing::RunOptions;

const std::string kCritical = "Erro crítico -- Contactar Tarvex em: suporte@tarvex.com.br ou +55 (11) 4000-1234\n";

// A full 13-entry argument vector with `mode` and connection values that
// point nowhere (nothing in these tests may contact a database).
std::vector<std::string> full(const std::string& mode) {
  return {"cobrix", mode, "127.0.0.1", "1", "u", "p", "ixc", "127.0.0.1", "1", "db", "u", "p", "zabbix"};
}

Captured run(const std::vector<std::string>& args, const RunOptions& options = {}) {
  return run_program(COBRIX_BIN, args, options);
}

std::string launch_log_path() { return "/tmp/cobrix-driver-launch-" + std::to_string(::getpid()); }

Captured run_with_launch_log(const std::vector<std::string>& args) {
  std::remove(launch_log_path().c_str());
  RunOptions options;
  options.env["CORVAKIT_LAUNCH_LOG"] = launch_log_path();
  return run(args, options);
}

TEST(ArgumentCount, EveryCountOtherThanTwoOrThirteenIsACriticalError) {
  std::vector<std::string> args = {"cobrix"};
  for (int count = 1; count <= 15; ++count) {
    if (count != 2 && count != 13) {
      const Captured result = run(args);
      EXPECT_EQ(result.status, 1) << count;
      EXPECT_EQ(result.out, kCritical) << count;
      EXPECT_EQ(result.err, "") << count;
    }
    args.push_back("version");  // "version" in entry 1 does not rescue a wrong count
  }
}

TEST(VersionMode, BannerInBothLayouts) {
  for (const auto& args : {std::vector<std::string>{"./cobrix", "version"}, full("version")}) {
    std::vector<std::string> a = args;
    a[0] = "./cobrix";
    const Captured result = run(a);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    ASSERT_TRUE(result.out.starts_with(" "));
    EXPECT_TRUE(result.out.ends_with("\n cobrix  1.0.1\n")) << result.out;
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 2);
  }
}

TEST(VersionMode, BannerThatCannotBeWrittenEndsWithTwo) {
  // The banner ends the run by an exit request; output lost on the way must
  // still not pass for a normal end.
  for (const auto& args : {std::vector<std::string>{"cobrix", "version"}, full("version")}) {
    RunOptions options;
    options.stdout_path = "/dev/full";
    const Captured result = run(args, options);
    EXPECT_EQ(result.status, 2) << args.size();
    EXPECT_EQ(result.err, "") << args.size();
  }
}

TEST(ShortLayout, AnyOtherModeReportsTheMissingConfigurationAndTouchesNothing) {
  for (const std::string mode : {"descobertaClientes", "launch_x", "outra", ""}) {
    const Captured result = run_with_launch_log({"cobrix", mode});
    EXPECT_EQ(result.status, 1) << mode;
    EXPECT_EQ(result.out, "") << mode;
    EXPECT_NE(result.err.find("configuração da execução ausente"), std::string::npos) << result.err;
    EXPECT_EQ(read_file(launch_log_path()), "") << "launch must not run";
  }
}

TEST(ModeDispatch, UnmatchedModesDoNothingAndEndWithZero) {
  for (const std::string mode : {"Version", "version ", " descobertaClientes", "DescobertaClientes",
                                 "descobertaclientes", "launch", "Launch_x", ""}) {
    const Captured result = run_with_launch_log(full(mode));
    EXPECT_EQ(result.status, 0) << mode;
    EXPECT_EQ(result.out, "") << mode;
    EXPECT_EQ(result.err, "") << mode;
    EXPECT_EQ(read_file(launch_log_path()), "") << mode;
  }
}

TEST(ModeDispatch, LaunchIsASubstringTestAndTakesTheWholeMode) {
  for (const std::string mode : {"launch_", "launch_descobertaClientes", "xyz launch_ abc", "versionlaunch_"}) {
    const Captured result = run_with_launch_log(full(mode));
    EXPECT_EQ(result.status, 0) << mode;
    EXPECT_EQ(result.out, "") << mode;
    EXPECT_EQ(result.err, "") << mode;
    EXPECT_EQ(read_file(launch_log_path()), mode + "\n");
  }
  std::remove(launch_log_path().c_str());
}

}  // namespace
}  // namespace cobrix
