#include <fmt/format.h>

#include <mutex>

#include "../platform.hpp"
#include "com_error.hpp"
#include "orbrix/automation/errors.hpp"
#include "win32_apartment.hpp"

namespace orbrix::automation {
namespace {

constexpr wchar_t kWindowClass[] = L"orbrix.automation.apartment";

HINSTANCE this_module() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&this_module), &module);
  return module;
}

void register_window_class() {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &Win32Apartment::window_proc;
    wc.hInstance = this_module();
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc);  // already registered is fine
  });
}

}  // namespace

LRESULT CALLBACK Win32Apartment::window_proc(HWND window, UINT message, WPARAM wparam,
                                             LPARAM lparam) {
  if (message == kWakeMessage) {
    auto* apartment = reinterpret_cast<Apartment*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (apartment) {
      // Cleared before the queue is read: work posted meanwhile sends a new
      // message.
      apartment->wake_posted_.store(false, std::memory_order_release);
      if (apartment->pump()) {
        PostQuitMessage(0);
      }
    }
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void Apartment::wake_owner() {
  void* window = window_.load(std::memory_order_acquire);
  if (window && !wake_posted_.exchange(true, std::memory_order_acq_rel)) {
    if (!PostMessageW(static_cast<HWND>(window), Win32Apartment::kWakeMessage, 0, 0)) {
      wake_posted_.store(false, std::memory_order_release);
    }
  }
}

bool Win32Apartment::has_work(Apartment& apartment, DWORD& next_timer_ms) {
  MutexLock lock(apartment.mutex_);
  next_timer_ms = INFINITE;
  if (apartment.has_work()) {
    return true;
  }
  if (!apartment.timers_.empty()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(apartment.timers_.top().due -
                                                                   Apartment::Clock::now());
    next_timer_ms =
        left.count() <= 0 ? 0 : static_cast<DWORD>(std::min<long long>(left.count(), 0x7FFFFFFF));
  }
  return false;
}

void Win32Apartment::attach(Apartment& apartment) {
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) {
    throw ApartmentError(fmt::format("CoInitialize failed: {}", win32::describe_hresult(hr)));
  }
  register_window_class();
  // Under Wine the first window of a process can fail while the prefix's
  // desktop is still starting; a few short retries ride that out.
  HWND window = nullptr;
  for (int attempt = 0; !window && attempt < 50; ++attempt) {
    if (attempt > 0) {
      Sleep(20);
    }
    window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             this_module(), nullptr);
  }
  if (!window) {
    const DWORD error = GetLastError();
    CoUninitialize();
    throw ApartmentError(fmt::format("the apartment's message window cannot be created: {}",
                                     win32::describe_hresult(HRESULT_FROM_WIN32(error))));
  }
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&apartment));
  apartment.window_.store(window, std::memory_order_release);
}

void Win32Apartment::detach(Apartment& apartment) noexcept {
  if (void* window = apartment.window_.exchange(nullptr, std::memory_order_acq_rel)) {
    SetWindowLongPtrW(static_cast<HWND>(window), GWLP_USERDATA, 0);
    DestroyWindow(static_cast<HWND>(window));
    CoUninitialize();
  }
}

namespace detail {

void attach_thread(Apartment& apartment) {
  Win32Apartment::attach(apartment);
}

void detach_thread(Apartment& apartment) noexcept {
  Win32Apartment::detach(apartment);
}

}  // namespace detail
}  // namespace orbrix::automation
