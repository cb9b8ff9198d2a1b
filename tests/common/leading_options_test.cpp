// Options before the positional arguments: where parsing stops, values, and the messages for
// mistakes.
#include <gtest/gtest.h>

#include <thread>

#include "common/leading_options.h"
#include "tervik/exceptions.h"

namespace tervik {
namespace {

const std::vector<OptionSpec> kSpecs = {{"threads", "N", "worker threads"},
                                        {"binary", "", "binary output"}};

LeadingOptions parse(std::vector<const char*> args) {
  args.insert(args.begin(), "prog");
  return parse_leading_options(static_cast<int>(args.size()), args.data(), kSpecs);
}

std::string parse_error(std::vector<const char*> args) {
  try {
    parse(std::move(args));
  } catch (const TervikError& e) {
    return e.what();
  }
  return "";
}

TEST(LeadingOptions, PositionalArgumentsStartAtTheFirstNonOption) {
  // No options: the positionals start right after the program name, also a negative number.
  EXPECT_EQ(parse({"a.ply", "b.ply"}).first_positional, 1);
  EXPECT_EQ(parse({"-1.5", "2"}).first_positional, 1);
  EXPECT_TRUE(parse({}).values.empty());

  const LeadingOptions o = parse({"--threads", "4", "--binary", "a.ply", "--binary"});
  EXPECT_EQ(o.first_positional, 4);
  EXPECT_EQ(o.values.at("threads"), "4");
  EXPECT_TRUE(o.has("binary"));

  EXPECT_EQ(parse({"--threads=2", "x"}).values.at("threads"), "2");
  // "--" ends the options, so a file may begin with two dashes.
  const LeadingOptions dashed = parse({"--binary", "--", "--weird.ply"});
  EXPECT_EQ(dashed.first_positional, 3);
  EXPECT_TRUE(parse({"--help", "x"}).help);
  EXPECT_TRUE(parse({"--version"}).version);
  EXPECT_FALSE(parse({"--help"}).version);
}

TEST(LeadingOptions, MistakesAreNamed) {
  EXPECT_EQ(parse_error({"--colour", "a"}), "unknown option --colour");
  EXPECT_EQ(parse_error({"--threads"}), "option --threads needs a value N");
  EXPECT_EQ(parse_error({"--binary=yes"}), "option --binary takes no value");
  EXPECT_EQ(parse_error({"--binary", "--binary"}), "option --binary given twice");
}

TEST(LeadingOptions, ThreadCount) {
  EXPECT_EQ(parse_thread_count("1"), 1u);
  EXPECT_EQ(parse_thread_count("3"), 3u);
  const unsigned cores = std::thread::hardware_concurrency();
  EXPECT_EQ(parse_thread_count("0"), cores > 0 ? cores : 1u);
  for (const char* bad : {"", "-1", "2x", "1.5", "99999"}) {
    EXPECT_THROW(parse_thread_count(bad), TervikError) << bad;
  }
}

TEST(LeadingOptions, HelpListsEveryOption) {
  const std::string help = options_help(kSpecs);
  EXPECT_NE(help.find("--threads N"), std::string::npos);
  EXPECT_NE(help.find("--binary"), std::string::npos);
  EXPECT_NE(help.find("--help"), std::string::npos);
  EXPECT_NE(help.find("--version"), std::string::npos);
}

}  // namespace
}  // namespace tervik
