#pragma once

// The apartment's unit of work is the house's move-only task.
#include "orbrix/common/task.hpp"

namespace orbrix::automation {

using Task = orbrix::Task;

}  // namespace orbrix::automation
