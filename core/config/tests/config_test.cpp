#include "orbrix/config/orbrix_config.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

namespace orbrix::config {
namespace {

TEST(Config, ParsesKeyValueLines) {
  const Config c = Config::parse(
      "# comment\n\n  TELEGRAM_TOKEN = 1:abc#def \r\nQUOTED=\"a b\"\nSINGLE='x'\nEMPTY=\n"
      "EQUALS=a=b\n");
  EXPECT_EQ(c.get("TELEGRAM_TOKEN"), "1:abc#def");
  EXPECT_EQ(c.get("QUOTED"), "a b");
  EXPECT_EQ(c.get("SINGLE"), "x");
  EXPECT_EQ(c.get("EMPTY"), "");
  EXPECT_EQ(c.get("EQUALS"), "a=b");
  EXPECT_EQ(c.get("MISSING"), std::nullopt);
}

TEST(Config, MalformedLinesNameTheLineNotItsContent) {
  try {
    Config::parse("A=1\nsecret-token-without-key\n", "orbrix.conf");
    FAIL();
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "orbrix.conf:2: expected KEY=value");
  }
  EXPECT_THROW(Config::parse("=value"), std::invalid_argument);
}

TEST(Config, ReadsAByteOrderMarkAndShellExports) {
  const Config c = Config::parse(
      "\xEF\xBB\xBFTELEGRAM_TOKEN=1:abc\nexport TELEGRAM_CHAT_ID=5\n  export\tQUOTED = 'a b'\n"
      "export=kept\nexported=too\n");
  EXPECT_EQ(c.get("TELEGRAM_TOKEN"), "1:abc");
  EXPECT_EQ(c.get("TELEGRAM_CHAT_ID"), "5");
  EXPECT_EQ(c.get("QUOTED"), "a b");
  EXPECT_EQ(c.get("export"), "kept");
  EXPECT_EQ(c.get("exported"), "too");
  EXPECT_EQ(c.get("export TELEGRAM_CHAT_ID"), std::nullopt);
}

TEST(Config, EnvironmentOverridesTheFile) {
  Config c = Config::parse("ORBRIX_CONFIG_TEST_KEY=file\nOTHER=kept\n");
  ::setenv("ORBRIX_CONFIG_TEST_KEY", "env", 1);
  c.overlay_environment();
  ::unsetenv("ORBRIX_CONFIG_TEST_KEY");
  EXPECT_EQ(c.get("ORBRIX_CONFIG_TEST_KEY"), "env");
  EXPECT_EQ(c.get("OTHER"), "kept");
}

TEST(Config, ANamedFileMustExist) {
  ::setenv("ORBRIX_CONFIG", "/nonexistent/orbrix.conf", 1);
  EXPECT_THROW(Config::load(), std::runtime_error);
  ::unsetenv("ORBRIX_CONFIG");
}

}  // namespace
}  // namespace orbrix::config
