// The entry point of the test programs. A program holds the tests of a whole folder of tests/
// (test_tervik, test_sculptor, ...); ctest runs it once per module with --module=<path>/<module>,
// which runs only the tests defined in tests/<path>/<module>_test.cpp. Without --module a program
// runs all of its tests. An explicit --gtest_filter wins over --module: the child process of a
// death test is started with the parent's arguments and a filter naming its one test.
#include <iostream>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace {

// A GoogleTest filter naming every test whose TEST or TEST_F line is in a file whose path ends in
// `suffix`; empty if there is none. A unity build includes the test files into its batches, so
// __FILE__, and with it TestInfo::file(), is still the test file's own path.
std::string tests_defined_in(std::string_view suffix) {
  std::string filter;
  const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
  for (int i = 0; i < unit.total_test_suite_count(); ++i) {
    const ::testing::TestSuite& suite = *unit.GetTestSuite(i);
    for (int j = 0; j < suite.total_test_count(); ++j) {
      const ::testing::TestInfo& test = *suite.GetTestInfo(j);
      if (!std::string_view(test.file()).ends_with(suffix)) continue;
      if (!filter.empty()) filter += ':';
      filter += std::string(test.test_suite_name()) + "." + test.name();
    }
  }
  return filter;
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  constexpr std::string_view kModuleOption = "--module=";
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (!argument.starts_with(kModuleOption)) {
      std::cerr << "ERROR: unknown argument '" << argument
                << "'; expected --module=<path>/<module> or GoogleTest's options\n";
      return 2;
    }
    const std::string_view module = argument.substr(kModuleOption.size());
    const std::string filter = tests_defined_in("/tests/" + std::string(module) + "_test.cpp");
    if (filter.empty()) {
      std::cerr << "ERROR: no tests in this program come from tests/" << module << "_test.cpp\n";
      return 2;
    }
    if (GTEST_FLAG_GET(filter) == "*") GTEST_FLAG_SET(filter, filter);
  }
  return RUN_ALL_TESTS();
}
