#include "http_client.hpp"

#include <curl/curl.h>

#include <mutex>
#include <stdexcept>

namespace orbrix::telegram {

namespace {

constexpr std::size_t max_body_bytes = 16 * 1024 * 1024;
constexpr std::size_t max_idle_connections = 4;

void global_init() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      throw std::runtime_error("libcurl initialisation failed");
    }
  });
}

struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

size_t append_body(char* data, size_t size, size_t count, void* user) {
  auto* body = static_cast<std::string*>(user);
  const size_t n = size * count;
  if (body->size() + n > max_body_bytes) {
    return 0;  // aborts the transfer
  }
  body->append(data, n);
  return n;
}

void wake_multi(void* multi) {
  curl_multi_wakeup(static_cast<CURLM*>(multi));
}

}  // namespace

struct HttpClient::Connection {
  CURL* easy = nullptr;
  CURLM* multi = nullptr;

  Connection() : easy(curl_easy_init()), multi(curl_multi_init()) {
    if (easy == nullptr || multi == nullptr) {
      cleanup();
      throw std::runtime_error("libcurl could not create a handle");
    }
  }
  ~Connection() { cleanup(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void cleanup() {
    if (multi != nullptr) {
      curl_multi_cleanup(multi);
    }
    if (easy != nullptr) {
      curl_easy_cleanup(easy);
    }
    multi = nullptr;
    easy = nullptr;
  }
};

HttpClient::HttpClient() {
  global_init();
}

HttpClient::~HttpClient() = default;

std::unique_ptr<HttpClient::Connection> HttpClient::acquire() {
  {
    MutexLock lock(mutex_);
    if (!idle_.empty()) {
      auto connection = std::move(idle_.back());
      idle_.pop_back();
      return connection;
    }
  }
  return std::make_unique<Connection>();
}

void HttpClient::release(std::unique_ptr<Connection> connection) {
  MutexLock lock(mutex_);
  if (idle_.size() < max_idle_connections) {
    idle_.push_back(std::move(connection));
  }
}

HttpResult HttpClient::post_json(const std::string& url, const std::string& body,
                                 std::chrono::milliseconds connect_timeout,
                                 std::chrono::milliseconds total_timeout, CancelSource* cancel) {
  HttpResult result;
  auto connection = acquire();
  CURL* easy = connection->easy;
  CURLM* multi = connection->multi;

  char error_buffer[CURL_ERROR_SIZE] = {};
  std::unique_ptr<curl_slist, SlistDeleter> headers(
      curl_slist_append(nullptr, "Content-Type: application/json"));

  curl_easy_reset(easy);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_POST, 1L);
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &append_body);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &result.body);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error_buffer);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connect_timeout.count()));
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(total_timeout.count()));
  curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
  curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(easy, CURLOPT_USERAGENT, "orbrix-bot");

  if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
    result.error = "libcurl could not start the transfer";
    return result;
  }
  bool attached = false;
  if (cancel != nullptr) {
    attached = cancel->attach(multi, &wake_multi);
    if (!attached) {
      result.outcome = HttpResult::Outcome::cancelled;
    }
  }

  bool multi_failed = false;
  if (cancel == nullptr || attached) {
    int running = 1;
    while (true) {
      if (curl_multi_perform(multi, &running) != CURLM_OK) {
        multi_failed = true;
        break;
      }
      if (running == 0) {
        break;
      }
      if (cancel != nullptr && cancel->cancelled()) {
        result.outcome = HttpResult::Outcome::cancelled;
        break;
      }
      if (curl_multi_poll(multi, nullptr, 0, 1000, nullptr) != CURLM_OK) {
        multi_failed = true;
        break;
      }
    }
  }
  if (attached) {
    cancel->detach(multi);
  }

  if (result.outcome != HttpResult::Outcome::cancelled) {
    CURLcode code = CURLE_OK;
    bool done = false;
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
      if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
        code = msg->data.result;
        done = true;
      }
    }
    if (multi_failed || !done) {
      result.error = "libcurl transfer failed";
    } else if (code != CURLE_OK) {
      result.error = curl_easy_strerror(code);
      if (error_buffer[0] != '\0') {
        result.error += ": ";
        result.error += error_buffer;
      }
    } else {
      curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &result.status);
      result.outcome = HttpResult::Outcome::completed;
    }
  }
  curl_multi_remove_handle(multi, easy);
  // The handle must not point at this frame's buffers once we return.
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, nullptr);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);
  if (result.outcome == HttpResult::Outcome::completed) {
    release(std::move(connection));
  }
  return result;
}

}  // namespace orbrix::telegram
