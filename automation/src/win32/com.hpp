#pragma once

// The Windows backend's COM helpers: an owning interface pointer, a scoped
// VARIANT and text conversions. Private to the automation layer.

#include <ocidl.h>
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>
#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

namespace orbrix::automation::win32 {

// An owning COM interface pointer: one reference, released when it goes.
template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  // Takes over a reference the caller holds.
  static ComPtr adopt(T* p) noexcept {
    ComPtr c;
    c.p_ = p;
    return c;
  }
  // Adds a reference of its own.
  static ComPtr share(T* p) noexcept {
    if (p) {
      p->AddRef();
    }
    return adopt(p);
  }
  ComPtr(const ComPtr& o) noexcept : p_(o.p_) {
    if (p_) {
      p_->AddRef();
    }
  }
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~ComPtr() { reset(); }

  void reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) {
      p->Release();
    }
  }
  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  // For an out-parameter; what it held is released first.
  T** put() noexcept {
    reset();
    return &p_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
  // Gives up the reference without releasing it.
  T* detach() noexcept { return std::exchange(p_, nullptr); }

 private:
  T* p_ = nullptr;
};

// A VARIANT cleared (its strings freed, its interfaces released) when it goes.
class ScopedVariant {
 public:
  ScopedVariant() noexcept { VariantInit(&v_); }
  ~ScopedVariant() { VariantClear(&v_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  VARIANT* get() noexcept { return &v_; }
  const VARIANT& operator*() const noexcept { return v_; }

 private:
  VARIANT v_;
};

// UTF-8 <-> UTF-16, the automation text on each side.
std::wstring to_wide(std::string_view utf8);
std::string to_utf8(const wchar_t* text, std::size_t size);
// A BSTR (null is empty).
std::string to_utf8(BSTR text);
// "{XXXXXXXX-...}".
std::string guid_text(const GUID& guid);

}  // namespace orbrix::automation::win32
