#pragma once

// What every program's command line shares: --version, and a seed's check.

#include <CLI/CLI.hpp>

#include <string>

namespace orbrix::demo {

// "orbrix-demo 0.1.0": the program's name and the project's version.
std::string version_text(const std::string& program);

// Adds --version to `app`; parsing it throws CLI::CallForVersion carrying
// version_text(program).
void add_version_flag(CLI::App& app, const std::string& program);

// A seed: a whole number from 0 to 2^64 - 1 written in decimal. A negative
// or larger number is refused as such (the option library would wrap -1 to
// 2^64 - 1 and saturate a larger one).
CLI::Validator seed_check();

}  // namespace orbrix::demo
