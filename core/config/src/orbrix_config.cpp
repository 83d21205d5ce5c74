#include "orbrix/config/orbrix_config.hpp"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace orbrix::config {

namespace {

constexpr std::string_view utf8_bom = "\xEF\xBB\xBF";

std::string_view trim(std::string_view s) {
  const auto is_space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && is_space(s.front())) {
    s.remove_prefix(1);
  }
  while (!s.empty() && is_space(s.back())) {
    s.remove_suffix(1);
  }
  return s;
}

}  // namespace

Config Config::parse(std::string_view text, std::string_view origin) {
  Config config;
  config.origin_ = std::string(origin);
  // Editors on Windows start UTF-8 files with a byte-order mark.
  if (text.starts_with(utf8_bom)) {
    text.remove_prefix(utf8_bom.size());
  }
  std::size_t line_number = 0;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    ++line_number;

    line = trim(line);
    if (line.empty() || line.front() == '#') {
      continue;
    }
    // A file written for the shell to source: "export KEY=value".
    if (line.starts_with("export") && line.size() > 6 && (line[6] == ' ' || line[6] == '\t')) {
      line = trim(line.substr(6));
    }
    const auto eq = line.find('=');
    const std::string_view key = eq == std::string_view::npos ? line : trim(line.substr(0, eq));
    if (eq == std::string_view::npos || key.empty()) {
      throw std::invalid_argument(std::string(origin) + ":" + std::to_string(line_number) +
                                  ": expected KEY=value");
    }
    std::string_view value = trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    config.values_[std::string(key)] = std::string(value);
  }
  return config;
}

Config Config::from_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw std::runtime_error("cannot read configuration file " + path.string());
  }
  std::ostringstream content;
  content << in.rdbuf();
  return parse(content.str(), path.string());
}

void Config::overlay_environment() {
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view item(*entry);
    const auto eq = item.find('=');
    if (eq == std::string_view::npos || eq == 0) {
      continue;
    }
    values_[std::string(item.substr(0, eq))] = std::string(item.substr(eq + 1));
  }
}

Config Config::load() {
  Config config;
  std::optional<std::filesystem::path> file;
  if (const char* named = std::getenv(std::string(config_path_variable).c_str());
      named != nullptr && *named != '\0') {
    file = named;
  } else if (std::error_code ec; std::filesystem::is_regular_file(default_config_file, ec)) {
    file = std::filesystem::path(default_config_file);
  }
  std::error_code ec;
  if (file) {
    config = from_file(*file);
    const auto shown = std::filesystem::absolute(*file, ec);
    config.origin_ = (ec ? *file : shown).string() + " and the environment";
  } else {
    const auto cwd = std::filesystem::current_path(ec);
    config.origin_ = "the environment only; no configuration file was found (" +
                     std::string(config_path_variable) + " is not set and there is no " +
                     (cwd / default_config_file).string() + ")";
  }
  config.overlay_environment();
  return config;
}

std::optional<std::string> Config::get(std::string_view key) const {
  auto it = values_.find(key);
  if (it == values_.end()) {
    return std::nullopt;
  }
  return it->second;
}

}  // namespace orbrix::config
