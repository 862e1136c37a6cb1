#include "corvakit/process_library.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <thread>
#include <sys/wait.h>
#include <algorithm>

#include "tests/support/process_runner.h"

namespace corvakit::process_library {
namespace {

using cobrix::testing::BlackHoleListener;
using cobrix::testing::capture_forked;
using cobrix::testing::process_exists;
using cobrix::testing::read_file;

// Connects to 127.0.0.1:port and blocks reading an answer that never comes.
void read_from(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  char byte;
  [[maybe_unused]] const ssize_t got = ::read(fd, &byte, 1);
}

TEST(RuntimeLimiter, ForwardsOutputInOrderAndReturnsTheWorkStatus) {
  const auto result = capture_forked([] {
    runtime_limiter limiter(10);
    const int status = limiter.run([] {
      std::cout << "linha 1\nlinha 2\n" << std::flush;
      std::cerr << "relato\n" << std::flush;
      std::cout << "sem fim de linha";
      return 7;
    });
    std::cout << "|status=" << status << " lost=" << limiter.output_lost();
    return 0;
  });
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "linha 1\nlinha 2\nsem fim de linha|status=7 lost=0");
  EXPECT_EQ(result.err, "relato\n");
}

TEST(RuntimeLimiter, LargeOutputArrivesWhole) {
  const auto result = capture_forked([] {
    runtime_limiter limiter(10);
    return limiter.run([] {
      for (int i = 0; i < 200000; ++i) std::cout << "registro " << i << '\n';
      return 0;
    });
  });
  ASSERT_EQ(result.status, 0);
  EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 200000);
  EXPECT_TRUE(result.out.ends_with("registro 199999\n"));
}

TEST(RuntimeLimiter, BlockedSystemCallEndsAtTheLimitWithoutAHalfLine) {
  BlackHoleListener listener;
  const int port = listener.port();
  const std::string pid_file = "/tmp/cobrix-limiter-child-" + std::to_string(::getpid());
  const auto started = std::chrono::steady_clock::now();
  const auto result = capture_forked([port, pid_file] {
    runtime_limiter limiter(1);
    try {
      limiter.run([port, pid_file] {
        std::ofstream(pid_file) << ::getpid();
        std::cout << "antes do bloqueio\nmeia linha" << std::flush;
        read_from(port);
        return 0;
      });
    } catch (const TimeoutException& timeout) {
      std::cout << "TIMEOUT: " << timeout.what() << '\n';
      return 0;
    }
    return 3;
  });
  const auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(result.out.starts_with("antes do bloqueio\nTIMEOUT: ")) << result.out;
  EXPECT_EQ(result.out.find("meia linha"), std::string::npos);
  EXPECT_GE(elapsed, std::chrono::milliseconds(900));
  EXPECT_LT(elapsed, std::chrono::seconds(5));
  const int child = std::stoi(read_file(pid_file));
  std::remove(pid_file.c_str());
  EXPECT_FALSE(process_exists(child)) << "the work outlived the limiter";
}

TEST(RuntimeLimiter, WorkDiesWithTheCallerWhenTheCallerIsKilled) {
  const std::string pid_file = "/tmp/cobrix-limiter-orphan-" + std::to_string(::getpid());
  const pid_t caller = ::fork();
  if (caller == 0) {
    runtime_limiter limiter(60);
    limiter.run([&pid_file] {
      std::ofstream(pid_file) << ::getpid();
      ::pause();
      return 0;
    });
    ::_exit(0);
  }
  int child = 0;
  for (int i = 0; i < 200 && child == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::string text = read_file(pid_file);
    if (!text.empty()) child = std::stoi(text);
  }
  ASSERT_NE(child, 0);
  ::kill(caller, SIGKILL);
  int status;
  ::waitpid(caller, &status, 0);
  bool gone = false;
  for (int i = 0; i < 200 && !gone; ++i) {
    gone = !process_exists(child);
    if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::remove(pid_file.c_str());
  EXPECT_TRUE(gone);
}

TEST(RuntimeLimiter, ReportsLostOutputAndChildDeathBySignal) {
  const auto lost = capture_forked([] {
    const int full = ::open("/dev/full", O_WRONLY);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(full, STDOUT_FILENO);
    runtime_limiter limiter(10);
    const int status = limiter.run([] {
      std::cout << "não cabe\n";
      return 0;
    });
    ::dup2(saved, STDOUT_FILENO);
    std::printf("status=%d lost=%d", status, limiter.output_lost());
    return 0;
  });
  EXPECT_EQ(lost.out, "status=0 lost=1");

  const auto killed = capture_forked([] {
    runtime_limiter limiter(10);
    try {
      limiter.run([] {
        // The default action, so that the child dies by the signal even
        // where a sanitizer runtime has installed a handler of its own.
        ::signal(SIGSEGV, SIG_DFL);
        ::raise(SIGSEGV);
        return 0;
      });
    } catch (const TimeoutException&) {
      return 2;
    } catch (const std::runtime_error& e) {
      std::cout << e.what();
      return 0;
    }
    return 3;
  });
  EXPECT_EQ(killed.status, 0);
  EXPECT_NE(killed.out.find("sinal 11"), std::string::npos) << killed.out;
}

TEST(Launch, AppendsTheModeToTheTraceFileOnly) {
  const std::string log = "/tmp/cobrix-launch-" + std::to_string(::getpid());
  const auto result = capture_forked([&log] {
    ::setenv("CORVAKIT_LAUNCH_LOG", log.c_str(), 1);
    launch("launch_a");
    launch("x launch_b");
    return 0;
  });
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(read_file(log), "launch_a\nx launch_b\n");
  std::remove(log.c_str());
}

}  // namespace
}  // namespace corvakit::process_library
