#pragma once

#include <functional>
#include <string_view>

namespace orbrix::automation {

// Where the layer reports errors that no caller can receive: an exception
// escaping a queued message or an event sink. The default writes one line to
// standard error. Any thread.
using ErrorReporter = std::function<void(std::string_view message)>;
void set_error_reporter(ErrorReporter reporter);
// Never throws.
void report_error(std::string_view message) noexcept;

}  // namespace orbrix::automation
