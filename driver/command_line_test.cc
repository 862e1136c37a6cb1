#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <cstring>
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
    const auto config = parse_command_line(count, argv.data());
    EXPECT_EQ(config.has_value(), count == 2 || count == 13) << count;
    args.push_back("version");
  }
}

TEST(ParseCommandLine, FullLayoutKeepsEveryValueAsReceived) {
  const std::vector<std::string> args = {"./cobrix", " descobertaClientes", "h", "3306x", "", "p w",
                                         "ixc",     "pg",                  "", "db",    "u", "\tpg ",
                                         "debug "};
  const auto config = parse_command_line(13, argv_of(args).data());
  ASSERT_TRUE(config && config->settings);
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
  const auto config = parse_command_line(2, argv_of(args).data());
  ASSERT_TRUE(config);
  EXPECT_EQ(config->mode, "descobertaClientes");
  EXPECT_FALSE(config->settings.has_value());
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
  const auto config = parse_command_line(13, argv.data());
  mask_passwords(13, argv.data());
  EXPECT_EQ(config->settings->db_password, "segredo-ixc");
  EXPECT_EQ(config->settings->pg_password, "segredo-pg");
  EXPECT_STREQ(argv[5], "***********");
  EXPECT_STREQ(argv[11], "**********");
  for (int i : {0, 1, 2, 3, 4, 6, 7, 8, 9, 10, 12}) EXPECT_EQ(argv[i], args[i]) << i;
  EXPECT_EQ(block.find("segredo"), std::string::npos);
}

}  // namespace
}  // namespace cobrix
