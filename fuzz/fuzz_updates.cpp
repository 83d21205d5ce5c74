// getUpdates answers as the Bot API (or anything posing as it) sends them.
#include <cstdint>
#include <string_view>

#include "orbrix/telegram/errors.hpp"
#include "orbrix/telegram/types.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const auto batch = orbrix::telegram::parse_update_batch(text, 0);
    for (const auto& u : batch.updates) {
      (void)u.chat_id();
    }
  } catch (const orbrix::telegram::BadResponse&) {
    // A refusal is the expected answer to garbage; anything else is a finding.
  }
  try {
    (void)orbrix::telegram::parse_update(text);
  } catch (const orbrix::telegram::BadResponse&) {
  }
  return 0;
}
