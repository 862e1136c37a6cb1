#include "driver/command_line.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/process_runner.h"

namespace cobrix {
namespace {

std::vector<const char*> argv_of(const std::vector<std::string>& args) {
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  return argv;
}

TEST(ParseCommandLine, OnlyTwoOrThirteenEntriesAreAccepted) {
  std::vector<std::string> args = {"cobrix"};
  for (int count = 1; count <= 16; ++count) {
    const auto argv = argv_of(args);
    const auto line = parse_command_line(count, argv.data());
    EXPECT_EQ(line.has_value(), count == 2 || count == 13) << count;
    args.push_back("version");
  }
}

TEST(ParseCommandLine, FullLayoutKeepsEveryValueAsReceived) {
  const std::vector<std::string> args = {"./cobrix", " descobertaClientes", "h", "3306x", "", "p w",
                                         "ixc",     "pg",                  "", "db",    "u", "\tpg ",
                                         "debug "};
  const auto line = parse_command_line(13, argv_of(args).data());
  ASSERT_TRUE(line && line->config.settings);
  EXPECT_FALSE(line->password_fd);
  const RunConfig* config = &line->config;
  EXPECT_EQ(config->program_name, "./cobrix");
  EXPECT_EQ(config->mode, " descobertaClientes");
  const RunSettings& s = *config->settings;
  EXPECT_EQ(s.db_host, "h");
  EXPECT_EQ(s.db_port, "3306x");
  EXPECT_EQ(s.db_user, "");
  EXPECT_EQ(s.db_password, "p w");
  EXPECT_EQ(s.database, "ixc");
  EXPECT_EQ(s.postgres_ip, "pg");
  EXPECT_EQ(s.postgres_port, "");
  EXPECT_EQ(s.pg_db, "db");
  EXPECT_EQ(s.pg_user, "u");
  EXPECT_EQ(s.pg_password, "\tpg ");
  EXPECT_EQ(s.zabbix_host, "debug ");
}

TEST(ParseCommandLine, ShortLayoutLeavesTheSettingsAbsentNotEmpty) {
  const std::vector<std::string> args = {"cobrix", "descobertaClientes"};
  const auto line = parse_command_line(2, argv_of(args).data());
  ASSERT_TRUE(line);
  EXPECT_EQ(line->config.mode, "descobertaClientes");
  EXPECT_FALSE(line->config.settings.has_value());
}

TEST(MaskPasswords, OverwritesOnlyThePasswordEntriesInPlace) {
  // A contiguous argument block, as the kernel lays it out.
  std::string block;
  const std::vector<std::string> args = {"cobrix", "m", "h", "1", "u", "segredo-ixc", "d",
                                         "pg",     "2", "b", "v", "segredo-pg",  "z"};
  std::vector<std::size_t> offsets;
  for (const auto& a : args) {
    offsets.push_back(block.size());
    block += a;
    block += '\0';
  }
  std::vector<char*> argv;
  for (auto off : offsets) argv.push_back(block.data() + off);
  const auto line = parse_command_line(13, argv.data());
  mask_passwords(13, argv.data());
  EXPECT_EQ(line->config.settings->db_password, "segredo-ixc");
  EXPECT_EQ(line->config.settings->pg_password, "segredo-pg");
  EXPECT_STREQ(argv[5], "***********");
  EXPECT_STREQ(argv[11], "**********");
  for (int i : {0, 1, 2, 3, 4, 6, 7, 8, 9, 10, 12}) EXPECT_EQ(argv[i], args[i]) << i;
  EXPECT_EQ(block.find("segredo"), std::string::npos);
}

TEST(DescriptorForm, TwelveEntriesWithTheLeadingOptionLeaveThePasswordsToTheDescriptor) {
  const std::vector<std::string> args = {"cobrix", "--senhas-fd=7", "descobertaClientes", "h", "3306", "u",
                                         "ixc",    "pg",            "5432",               "db", "pu", "z "};
  const auto line = parse_command_line(12, argv_of(args).data());
  ASSERT_TRUE(line && line->config.settings);
  EXPECT_EQ(line->password_fd, 7);
  EXPECT_EQ(line->config.program_name, "cobrix");
  EXPECT_EQ(line->config.mode, "descobertaClientes");
  const RunSettings& s = *line->config.settings;
  const std::vector<std::string> got = {s.db_host, s.db_port,    s.db_user,       s.db_password, s.database, s.postgres_ip,
                                        s.postgres_port, s.pg_db, s.pg_user, s.pg_password, s.zabbix_host};
  EXPECT_EQ(got, (std::vector<std::string>{"h", "3306", "u", "", "ixc", "pg", "5432", "db", "pu", "", "z "}));
}

TEST(DescriptorForm, OnlyAWellFormedOptionInEntryOneOfTwelveEntriesSelectsIt) {
  // Malformed options stay what twelve entries always were: a wrong count.
  for (const char* option : {"--senhas-fd=", "--senhas-fd=-1", "--senhas-fd=+3", "--senhas-fd=3x", "--senhas-fd= 3",
                             "--senhas-fd=2147483648", "--SENHAS-FD=3", "--senhas-fd", "-senhas-fd=3", "descobertaClientes"}) {
    std::vector<std::string> args(12, "x");
    args[1] = option;
    EXPECT_FALSE(parse_command_line(12, argv_of(args).data())) << option;
  }
  std::vector<std::string> args(12, "x");
  args[1] = "--senhas-fd=0";
  EXPECT_EQ(parse_command_line(12, argv_of(args).data())->password_fd, 0);
  args[1] = "--senhas-fd=2147483647";
  EXPECT_EQ(parse_command_line(12, argv_of(args).data())->password_fd, 2147483647);
  // Around the full layout's count the option is only a value.
  for (const int count : {3, 11, 14}) {
    std::vector<std::string> other(static_cast<std::size_t>(count), "x");
    other[1] = "--senhas-fd=3";
    EXPECT_FALSE(parse_command_line(count, argv_of(other).data())) << count;
  }
  std::vector<std::string> thirteen(13, "x");
  thirteen[1] = "--senhas-fd=3";
  const auto line = parse_command_line(13, argv_of(thirteen).data());
  ASSERT_TRUE(line);
  EXPECT_EQ(line->config.mode, "--senhas-fd=3");
  EXPECT_FALSE(line->password_fd);
}

// A descriptor from which `text` can be read to its end (an anonymous file,
// so that texts larger than a pipe's buffer fit too).
int descriptor_with(const std::string& text) {
  const int fd = ::memfd_create("passwords", 0);
  if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
      ::lseek(fd, 0, SEEK_SET) != 0)
    throw std::runtime_error("memfd");
  return fd;
}

TEST(ReadPasswords, TwoLinesGiveBothPasswordsExactlyAndTheDescriptorIsClosed) {
  const std::vector<std::vector<std::string>> cases = {
      {"ixc\npg\n", "ixc", "pg"},
      {"ixc\npg", "ixc", "pg"},
      {"\n\n", "", ""},
      {" a b\t*$'\"\\ \n\tç r\r\n", " a b\t*$'\"\\ ", "\tç r\r"},
  };
  for (const auto& c : cases) {
    const int fd = descriptor_with(c[0]);
    RunSettings settings;
    read_passwords(fd, settings);
    EXPECT_EQ(settings.db_password, c[1]) << c[0];
    EXPECT_EQ(settings.pg_password, c[2]) << c[0];
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << "descriptor left open";
  }
}

TEST(ReadPasswords, AnythingButTwoLinesOrAnUnreadableDescriptorIsAnError) {
  for (const std::string& text : std::vector<std::string>{"", "so-uma", "so-uma\n", "a\nb\nc", "a\nb\n\n", "\n\n\n",
                                 std::string(70000, 'x') + "\ny"}) {
    const int fd = descriptor_with(text);
    RunSettings settings;
    try {
      read_passwords(fd, settings);
      ADD_FAILURE() << "accepted: " << text.substr(0, 20);
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), ("as senhas do descritor " + std::to_string(fd) +
                              " devem ser duas linhas: a senha do IXC e a senha do PostgreSQL")
                                 .c_str());
    }
    EXPECT_EQ(settings.db_password, "");
  }
  const int closed = descriptor_with("");
  ::close(closed);
  RunSettings settings;
  try {
    read_passwords(closed, settings);
    ADD_FAILURE() << "a closed descriptor was read";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()),
              "não foi possível ler as senhas do descritor " + std::to_string(closed) + ": Bad file descriptor");
  }
}

TEST(DescriptorForm, TheProgramReadsThePasswordsBeforeTheModeAndFailsWithoutThem) {
  const std::vector<std::string> args = {"cobrix", "--senhas-fd=9", "version", "h", "1", "u", "d", "pg", "1",
                                         "db",     "pu",            "z"};
  const int fd = descriptor_with("ixc\npg\n");
  ASSERT_EQ(::dup2(fd, 9), 9);  // inherited by the program, which closes it
  ::close(fd);
  const testing::Captured banner = testing::run_program(COBRIX_BIN, args);
  ::close(9);
  EXPECT_EQ(banner.status, 0);
  EXPECT_EQ(banner.err, "");
  EXPECT_NE(banner.out.find("cobrix  1.0.1"), std::string::npos) << banner.out;

  const testing::Captured missing = testing::run_program(COBRIX_BIN, args);
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "cobrix: erro (senhas): não foi possível ler as senhas do descritor 9: Bad file descriptor\n");
}

}  // namespace
}  // namespace cobrix
