#pragma once

// JSON to update types; shared by the client and its tests.

#include <nlohmann/json.hpp>

#include "orbrix/telegram/types.hpp"

namespace orbrix::telegram {

// Throws BadResponse when `j` is not an object with an integer update_id.
Update update_from_json(const nlohmann::json& j);

// Reads a getUpdates result (see parse_update_batch).
UpdateBatch update_batch_from_json(const nlohmann::json& result, std::int64_t offset);

// Reads a User; nullopt when `j` is not an object with an integer id.
std::optional<User> user_from_json(const nlohmann::json& j);

}  // namespace orbrix::telegram
