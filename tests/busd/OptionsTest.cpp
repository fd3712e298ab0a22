// SPDX-License-Identifier: GPL-2.0-or-later
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <map>

#include "busd/Options.h"

using namespace tessaro::busd;

namespace {

tessaro::Result<Options> Parse(std::vector<std::string> args,
                               std::map<std::string, std::string> env = {}) {
  return ParseOptions(
      args,
      [env](const char* name) -> const char* {
        const auto it = env.find(name);
        return it == env.end() ? nullptr : it->second.c_str();
      },
      [] { return std::string("DEFAULT-PC"); });
}

}  // namespace

TEST(BusdOptions, DefaultsAndEnvironment) {
  auto p = Parse({}, {{"TESSARO_SERVERS", "127.0.0.2,127.0.0.3:7000"}});
  ASSERT_TRUE(p) << p.error();
  const Options& o = *p;
  EXPECT_EQ(o.runtimeDir, "/run/tessaro");
  EXPECT_EQ(o.computerName, "DEFAULT-PC");
  EXPECT_EQ(o.group, "tessaro");
  EXPECT_TRUE(o.discovery);
  EXPECT_EQ(o.discoveryPort, 9303);
  EXPECT_EQ(o.dropAfter.count(), 30);
  EXPECT_EQ(o.limits.maxConnections, 512u);
  EXPECT_EQ(o.limits.maxQueuedOutput, 1024u * 1024);
  ASSERT_EQ(o.servers.size(), 2u);
  EXPECT_EQ(o.servers[0].ip, ::inet_addr("127.0.0.2"));
  EXPECT_EQ(o.servers[0].port, 2005);
  EXPECT_EQ(o.servers[1].port, 7000);

  p = Parse({"--runtime-dir", "/tmp/x", "--computer-name", "PC-B", "--server", "10.0.0.1:99",
             "--group", "staff", "--no-discovery", "--discovery-port", "9400", "--drop-after", "2",
             "--max-clients", "8", "--max-client-output", "70000"},
            {{"TESSARO_RUNTIME_DIR", "/tmp/env"}, {"TESSARO_SERVERS", "127.0.0.2"}});
  ASSERT_TRUE(p) << p.error();
  EXPECT_EQ(p->runtimeDir, "/tmp/x");
  EXPECT_EQ(p->computerName, "PC-B");
  EXPECT_EQ(p->servers.size(), 2u);  // the environment's and the command line's
  EXPECT_EQ(p->group, "staff");
  EXPECT_FALSE(p->discovery);
  EXPECT_EQ(p->discoveryPort, 9400);
  EXPECT_EQ(p->dropAfter.count(), 2);
  EXPECT_EQ(p->limits.maxConnections, 8u);
  EXPECT_EQ(p->limits.maxQueuedOutput, 70000u);

  EXPECT_EQ(Parse({}, {{"TESSARO_RUNTIME_DIR", "/tmp/env"}})->runtimeDir, "/tmp/env");
}

TEST(BusdOptions, BadInputIsAnErrorWithItsReason) {
  const struct {
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    const char* mentions;
  } cases[] = {
      {{"--server", "300.1.1.1"}, {}, "300.1.1.1"},
      {{"--server", "10.0.0.1:0"}, {}, "10.0.0.1:0"},
      {{"--server", "10.0.0.1:70000"}, {}, "70000"},
      {{"--server", "host.example"}, {}, "host.example"},
      {{"--drop-after", "-1"}, {}, "--drop-after"},
      {{"--drop-after", "1x"}, {}, "--drop-after"},
      {{"--discovery-port", "0"}, {}, "--discovery-port"},
      {{"--max-clients", "0"}, {}, "--max-clients"},
      {{"--max-client-output", "1000"}, {}, "--max-client-output"},  // below one reply
      {{"--bogus"}, {}, "--bogus"},
      {{"--group"}, {}, "--group"},
      {{}, {{"TESSARO_SERVERS", "127.0.0.2,nope"}}, "TESSARO_SERVERS"},
  };
  for (const auto& c : cases) {
    const auto p = Parse(c.args, c.env);
    ASSERT_FALSE(p);
    EXPECT_NE(p.error().find(c.mentions), std::string::npos) << p.error();
  }
}

TEST(BusdOptions, ComputerNameIsCutTo63Bytes) {
  const auto p = Parse({"--computer-name", std::string(80, 'N')});
  ASSERT_TRUE(p);
  EXPECT_EQ(p->computerName.size(), 63u);
}
