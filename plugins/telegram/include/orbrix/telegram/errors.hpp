#pragma once

// Errors raised by the Bot API client. Every text is free of the bot token.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace orbrix::telegram {

// Base of every failure of a Bot API call.
class TelegramError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The Bot API answered {"ok": false, ...}: 401, 400 "chat not found", 409, 429 ...
class ApiError : public TelegramError {
 public:
  ApiError(const std::string& what, int error_code, std::string description,
           std::optional<std::int64_t> retry_after)
      : TelegramError(what),
        error_code_(error_code),
        description_(std::move(description)),
        retry_after_(retry_after) {}

  int error_code() const noexcept { return error_code_; }
  const std::string& description() const noexcept { return description_; }
  // Seconds the server asks us to wait (parameters.retry_after of a 429), as
  // sent: it may be 0, or far larger than any wait worth making.
  std::optional<std::int64_t> retry_after() const noexcept { return retry_after_; }

 private:
  int error_code_;
  std::string description_;
  std::optional<std::int64_t> retry_after_;
};

// The request did not complete: no connection, dropped connection, time-out.
class NetworkError : public TelegramError {
 public:
  using TelegramError::TelegramError;
};

// An answer arrived but is not a Bot API answer: HTML error page, malformed
// JSON, missing fields.
class BadResponse : public TelegramError {
 public:
  using TelegramError::TelegramError;
};

// The request was abandoned because its owner is shutting it down.
class Cancelled : public TelegramError {
 public:
  using TelegramError::TelegramError;
};

}  // namespace orbrix::telegram
