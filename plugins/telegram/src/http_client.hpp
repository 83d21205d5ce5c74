#pragma once

// Minimal HTTP POST over libcurl, with transfers that another thread can
// abandon at once (a multi handle woken by curl_multi_wakeup).

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "orbrix/common/mutex.hpp"
#include "orbrix/telegram/cancel_source.hpp"

namespace orbrix::telegram {

struct HttpResult {
  enum class Outcome { completed, failed, cancelled };
  Outcome outcome = Outcome::failed;
  long status = 0;
  std::string body;
  std::string error;  // libcurl's text when failed (may contain the URL)
};

class HttpClient {
 public:
  HttpClient();
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Thread-safe; blocks until the answer, the time-out or a cancel.
  HttpResult post_json(const std::string& url, const std::string& body,
                       std::chrono::milliseconds connect_timeout,
                       std::chrono::milliseconds total_timeout, CancelSource* cancel);

 private:
  struct Connection;
  std::unique_ptr<Connection> acquire();
  void release(std::unique_ptr<Connection> connection);

  Mutex mutex_;
  // Idle handles keep their connections open for the next call.
  std::vector<std::unique_ptr<Connection>> idle_ GUARDED_BY(mutex_);
};

}  // namespace orbrix::telegram
