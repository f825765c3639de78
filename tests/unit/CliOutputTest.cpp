#include <gtest/gtest.h>

#include <string>

#include "cli/CliOutput.h"

namespace {

TEST(CliOutput, PrintableTextDefusesControlBytes) {
  EXPECT_EQ(cli::PrintableText("mail"), "mail");
  EXPECT_EQ(cli::PrintableText("a\x1b[2Jb"), "a\\x1B[2Jb");
  EXPECT_EQ(cli::PrintableText(std::string("a\0b\n\x7f", 5)), "a\\x00b\\x0A\\x7F");
  EXPECT_EQ(cli::PrintableText("caf\xC3\xA9"), "caf\xC3\xA9");  // UTF-8 stays
  // C1 controls: U+009B (CSI) in UTF-8, and the lone byte an 8-bit terminal reads as CSI.
  EXPECT_EQ(cli::PrintableText("a\xC2\x9B" "2Jb\xC2\x80\xC2\xA0"), "a\\u009B2Jb\\u0080\xC2\xA0");
  EXPECT_EQ(cli::PrintableText("a\x9B" "2J\x80\xE9"), "a\\x9B2J\\x80\xE9");
  EXPECT_EQ(cli::PrintableText("<b>x</b>"), "<b>x</b>");
}

TEST(CliOutput, JsonQuoteAlwaysGivesValidJson) {
  const struct {
    std::string bytes;
    std::string json;
  } cases[] = {
      {"mail", "\"mail\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"l1\nl2\t\r", "\"l1\\nl2\\t\\r\""},
      {std::string("\0\x1b\x7f", 3), "\"\\u0000\\u001b\\u007f\""},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x94\x91", "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x94\x91\""},
      {"\xFF", "\"\\ufffd\""},                  // not UTF-8 at all
      {"\xC3", "\"\\ufffd\""},                  // cut short
      {"\xC0\xAF", "\"\\ufffd\\ufffd\""},       // overlong
      {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},  // surrogate
      {"\xF4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},  // above U+10FFFF
  };
  for (const auto& c : cases) EXPECT_EQ(cli::JsonQuote(c.bytes), c.json);
}

TEST(CliOutput, JsonObjectsKeepMemberOrder) {
  cli::JsonObject object;
  object.Text("name", "m\"x").Bool("default", true).Number("exit", 3).Raw("list", cli::JsonArray({"1", "\"a\""}));
  EXPECT_EQ(object.Str(), R"({"name":"m\"x","default":true,"exit":3,"list":[1,"a"]})");
  EXPECT_EQ(cli::JsonObject().Str(), "{}");
  EXPECT_EQ(cli::JsonArray({}), "[]");
}

}  // namespace
