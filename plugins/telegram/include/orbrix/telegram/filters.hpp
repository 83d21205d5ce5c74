#pragma once

#include <functional>
#include <memory>

#include "orbrix/telegram/types.hpp"

namespace orbrix::telegram {

// A condition on a message, combinable with & (and) and ~ (not).
class Filter {
 public:
  using Predicate = std::function<bool(const Message&)>;
  explicit Filter(Predicate predicate) : predicate_(std::move(predicate)) {}

  bool operator()(const Message& message) const { return predicate_(message); }

  friend Filter operator&(Filter a, Filter b) {
    return Filter([a = std::move(a), b = std::move(b)](const Message& m) { return a(m) && b(m); });
  }
  friend Filter operator~(Filter a) {
    return Filter([a = std::move(a)](const Message& m) { return !a(m); });
  }

 private:
  Predicate predicate_;
};

// True when `message` starts with a bot command: a bot_command entity at
// offset 0 (a "/word" without that entity is plain text).
bool starts_with_command(const Message& message);

namespace filters {

// The message has text (a photo's caption is not text).
inline const Filter text{[](const Message& m) { return m.text.has_value(); }};

// The message starts with a bot command, whichever bot it names.
inline const Filter command{[](const Message& m) { return starts_with_command(m); }};

}  // namespace filters

}  // namespace orbrix::telegram
