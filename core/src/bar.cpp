#include "orbrix/core/bar.hpp"

#include "text_form.hpp"

namespace orbrix {

std::string to_text(const Bar& b) {
  return fmt::format("Bar(datetime={}, security={}, open={}, high={}, low={}, close={}, volume={})",
                     to_text(b.datetime), to_text(b.security), b.open, b.high, b.low, b.close,
                     b.volume);
}

}  // namespace orbrix
