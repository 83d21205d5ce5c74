#pragma once

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace orbrix::testing {

// Calls `parse(argc, argv)` with `args` after the program's name, as a
// shell would.
template <class Parse>
auto parse_command_line(const char* program, std::vector<std::string> args, Parse&& parse) {
  args.insert(args.begin(), program);
  std::vector<char*> argv;
  for (auto& a : args) {
    argv.push_back(a.data());
  }
  return parse(static_cast<int>(argv.size()), argv.data());
}

// The text `parse` refuses `args` with (an std::invalid_argument), or
// "accepted".
template <class Parse>
std::string refusal_of(const char* program, std::vector<std::string> args, Parse&& parse) {
  try {
    parse_command_line(program, std::move(args), parse);
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "accepted";
}

}  // namespace orbrix::testing
