#include "text.hpp"

#include <gtest/gtest.h>

#include "orbrix/telegram/testing/fixtures.hpp"

namespace orbrix::telegram::text {
namespace {

TEST(SplitWords, SplitsAtEveryKindOfWhiteSpace) {
  EXPECT_EQ(split_words("/cmd\narg"), (std::vector<std::string>{"/cmd", "arg"}));
  EXPECT_EQ(split_words("  a\t\tb\r\nc  "), (std::vector<std::string>{"a", "b", "c"}));
  // No-break, ideographic, em and line-separator spaces.
  EXPECT_EQ(split_words("a\u00a0b\u3000c\u2003d\u2028e"),
            (std::vector<std::string>{"a", "b", "c", "d", "e"}));
  // A zero-width space joins, as it does for Telegram's users.
  EXPECT_EQ(split_words("a\u200bb"), (std::vector<std::string>{"a\u200bb"}));
  EXPECT_EQ(split_words("Лол кек 😂"), (std::vector<std::string>{"Лол", "кек", "😂"}));
  EXPECT_TRUE(split_words(" \n ").empty());
}

TEST(Utf16, CountsAsTheBotApiDoes) {
  // The fixture's numbers: 25 code points, 30 UTF-16 units, 46 bytes.
  const std::string zwj = "👩‍👩‍👧‍👧🐱http://google.com";
  EXPECT_EQ(zwj.size(), 46u);
  EXPECT_EQ(utf16_length(zwj), 30u);
  // The url entity at UTF-16 offset 13 starts right after the cat.
  EXPECT_EQ(zwj.substr(utf16_prefix_bytes(zwj, 13)), "http://google.com");
  // A broken byte counts as one unit and is never a reason to fail.
  EXPECT_EQ(utf16_length("a\xff"
                         "b"),
            3u);
  EXPECT_EQ(utf16_length("\xf0\x9f"), 2u);
}

TEST(SplitMessage, KeepsPiecesWithinTheLimitAndCharactersWhole) {
  const std::string ascii(4096, 'a');
  EXPECT_EQ(split_message(ascii).size(), 1u);
  EXPECT_EQ(split_message(ascii + "b"), (std::vector<std::string>{ascii, "b"}));

  // An emoji across the limit moves whole to the next piece.
  const std::string emoji = "😋";
  const std::string straddling = std::string(4095, 'a') + emoji;
  EXPECT_EQ(split_message(straddling), (std::vector<std::string>{std::string(4095, 'a'), emoji}));

  // Cuts after a line break in the second half of a piece.
  std::string lines;
  for (int i = 0; i < 100; ++i) {
    lines += std::string(99, 'x') + "\n";
  }
  const auto pieces = split_message(lines);
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0].size(), 4000u);
  EXPECT_EQ(pieces[0].back(), '\n');
  EXPECT_EQ(pieces[0] + pieces[1] + pieces[2], lines);
}

TEST(SplitMessage, NeverGivesABlankPieceAndPrefersALineBreak) {
  EXPECT_TRUE(split_message("").empty());
  EXPECT_TRUE(split_message(" \n\t\u3000 ").empty());
  const std::string full(4096, 'a');
  EXPECT_EQ(split_message(full + "\n"), (std::vector<std::string>{full}));
  EXPECT_EQ(split_message(full + "\n \n\t "), (std::vector<std::string>{full}));
  // A blank stretch longer than a message between two visible ones.
  const auto gap = split_message(full + std::string(5000, ' ') + "b");
  ASSERT_EQ(gap.size(), 2u);
  EXPECT_EQ(gap[0], full);
  EXPECT_EQ(gap[1], std::string(904, ' ') + "b");
  // A line break early in the window still beats cutting a line apart.
  const std::string head = std::string(100, 'x') + "\n";
  EXPECT_EQ(split_message(head + std::string(4000, 'y')),
            (std::vector<std::string>{head, std::string(4000, 'y')}));
  // A blank first line is no place to cut.
  EXPECT_EQ(split_message("\n" + full),
            (std::vector<std::string>{"\n" + std::string(4095, 'a'), "a"}));
}

TEST(ParseCount, AcceptsSignedDecimalsOnly) {
  EXPECT_EQ(parse_count("5"), 5);
  EXPECT_EQ(parse_count("-5"), -5);
  EXPECT_EQ(parse_count("+007"), 7);
  EXPECT_EQ(parse_count("0"), 0);
  for (const char* bad :
       {"", "+", "-", "x", "5x", "1_000", "-A", "+-5", " 5", "99999999999999999999", "٣"}) {
    EXPECT_EQ(parse_count(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace orbrix::telegram::text
