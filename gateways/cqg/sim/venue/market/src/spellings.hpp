#pragma once

// What the symbols a history file spells resolve to, each spelling resolved
// once: a file names its instruments on every row, and resolving a name
// against the catalogue costs far more than comparing it with the few names
// already met.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orbrix::cqgsim::venue {

template <class T>
class Spellings {
 public:
  // The value of `text`, made by `resolve(text)` the first time it is met.
  // The reference is valid until the next call.
  template <class Resolve>
  const T& get(std::string_view text, Resolve&& resolve) {
    for (const auto& [spelling, value] : known_) {
      if (spelling == text) {
        return value;
      }
    }
    known_.emplace_back(std::string(text), resolve(text));
    return known_.back().second;
  }

 private:
  std::vector<std::pair<std::string, T>> known_;
};

}  // namespace orbrix::cqgsim::venue
