#pragma once

// The engine's configuration: an optional file of KEY=value lines and the
// process environment, which overrides the file.
//
// File format: one KEY=value per line; blank lines and lines starting with
// '#' are skipped; white space around key and value is dropped; a value in
// matching single or double quotes loses the quotes. No inline comments. A
// leading UTF-8 byte-order mark and a shell's "export " before a key are
// ignored.

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace orbrix::config {

inline constexpr std::string_view config_path_variable = "ORBRIX_CONFIG";
inline constexpr std::string_view default_config_file = "orbrix.conf";

// A value type: const methods may be called from any thread; set() and
// overlay_environment() need the caller's own synchronisation.
class Config {
 public:
  Config() = default;

  // The file named by ORBRIX_CONFIG (which must exist), else ./orbrix.conf
  // when present, overlaid with the environment as it is now. Throws
  // std::runtime_error when a named file cannot be read, std::invalid_argument
  // for a malformed line (the message names the line, never its content).
  static Config load();

  // Parses `text` as a configuration file; `origin` names it in errors.
  static Config parse(std::string_view text, std::string_view origin = "configuration");
  static Config from_file(const std::filesystem::path& path);

  // Adds every variable of the process environment, replacing file values.
  void overlay_environment();

  // The value of `key`; nullopt when absent.
  std::optional<std::string> get(std::string_view key) const;
  void set(std::string key, std::string value) { values_[std::move(key)] = std::move(value); }

  // Where the values were read, for messages about a missing key: the file
  // (and the environment), or the environment alone and where a file was
  // looked for.
  const std::string& origin() const noexcept { return origin_; }

 private:
  std::map<std::string, std::string, std::less<>> values_;
  std::string origin_ = "an empty configuration";
};

}  // namespace orbrix::config
