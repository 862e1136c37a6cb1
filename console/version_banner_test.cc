#include "console/version_banner.h"

#include <gtest/gtest.h>

#include <sstream>

#include "console/styles.h"
#include "model/run_config.h"

namespace cobrix {
namespace {

TEST(VersionBanner, NameLineReplacesEveryDotSlash) {
  EXPECT_EQ(version_name_line("./cobrix"), " cobrix  1.0.1");
  EXPECT_EQ(version_name_line("cobrix"), "cobrix  1.0.1");
  EXPECT_EQ(version_name_line("../cobrix"), ". cobrix  1.0.1");
  EXPECT_EQ(version_name_line("././cobrix"), "  cobrix  1.0.1");
  EXPECT_EQ(version_name_line("/usr/local/bin/./cobrix"), "/usr/local/bin/ cobrix  1.0.1");
  EXPECT_EQ(version_name_line("/usr/local/bin/cobrix"), "/usr/local/bin/cobrix  1.0.1");
  EXPECT_EQ(version_name_line("a/./b"), "a/ b  1.0.1");
  EXPECT_EQ(version_name_line(".../x"), ".. x  1.0.1");  // matches do not overlap
  EXPECT_EQ(version_name_line(""), "  1.0.1");
}

TEST(VersionBanner, WritesTwoPlainLinesAndRequestsExitZero) {
  std::ostringstream out;
  try {
    get_version("./cobrix", out);
    FAIL() << "get_version returned";
  } catch (const ExitRequest& exit) {
    EXPECT_EQ(exit.status, 0);
  }
  const std::string text = out.str();
  ASSERT_EQ(text.back(), '\n');
  const std::size_t first_end = text.find('\n');
  EXPECT_EQ(text.substr(first_end + 1), " cobrix  1.0.1\n");
  EXPECT_EQ(text[0], ' ');  // the rights notice begins with one blank
  EXPECT_EQ(text.find('\x1b'), std::string::npos);
}

TEST(StyleSequences, ExactBytes) {
  EXPECT_EQ(VERSION, "1.0.1");
  EXPECT_EQ(RED, "\x1b[1;31m");
  EXPECT_EQ(BLUE, "\x1b[1;34m");
  EXPECT_EQ(CYAN, "\x1b[1;36m");
  EXPECT_EQ(GREEN, "\x1b[0;32m");
  EXPECT_EQ(RESET, std::string_view("\x1b[0;0m", 6));
  EXPECT_EQ(BOLD, std::string_view("\x1b[;1m", 5));
  EXPECT_EQ(REVERSE, std::string_view("\x1b[;7m", 5));
  EXPECT_EQ(YELLOW, "\x1b[0;93m");
  EXPECT_EQ(RED.size() + BLUE.size() + CYAN.size() + GREEN.size() + YELLOW.size(), 35u);
}

}  // namespace
}  // namespace cobrix
