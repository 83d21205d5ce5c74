#pragma once

// Short demo runs for the tests, with every line they print captured: the
// demo's own and the gateway's traced ones, in one file, in order.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "demo_run.hpp"
#include "orbrix/cqg/trace.hpp"

namespace orbrix::demo::testing {

// Two seconds of EP with the gateway's account reload pause shortened, so
// a run takes about three.
inline DemoOptions short_run() {
  DemoOptions o;
  o.duration = std::chrono::seconds(2);
  o.symbols = {"EP"};
  o.account_reload_pause = std::chrono::milliseconds(100);
  o.close_out_bound = std::chrono::seconds(10);
  return o;
}

struct CapturedRun {
  DemoSummary summary;
  std::vector<std::string> lines;

  bool has_line_starting(const std::string& prefix) const {
    for (const auto& l : lines) {
      if (l.rfind(prefix, 0) == 0) {
        return true;
      }
    }
    return false;
  }
  // Lines written by Trace: "<thread id>: <message>".
  std::size_t traced_lines() const {
    static const std::regex traced("^[0-9]+: .*");
    std::size_t n = 0;
    for (const auto& l : lines) {
      n += std::regex_match(l, traced) ? 1 : 0;
    }
    return n;
  }
};

// Runs the demo with its lines and the traced lines going to one temporary
// file, read back after. Throws what run_demo throws.
inline CapturedRun run_captured(const DemoOptions& options) {
  std::FILE* file = std::tmpfile();
  std::FILE* previous = cqg::set_output_stream(file);
  const auto restore = [&] { cqg::set_output_stream(previous == stdout ? nullptr : previous); };
  CapturedRun run;
  std::atomic<bool> stop{false};
  try {
    run.summary = run_demo(options, stop, nullptr, file);
  } catch (...) {
    restore();
    std::fclose(file);
    throw;
  }
  restore();
  std::rewind(file);
  std::string line;
  for (int c; (c = std::fgetc(file)) != EOF;) {
    if (c == '\n') {
      run.lines.push_back(std::move(line));
      line.clear();
    } else {
      line += static_cast<char>(c);
    }
  }
  std::fclose(file);
  return run;
}

}  // namespace orbrix::demo::testing
