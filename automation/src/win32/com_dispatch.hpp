#pragma once

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "com.hpp"
#include "orbrix/automation/dispatch.hpp"
#include "orbrix/common/mutex.hpp"

namespace orbrix::automation::win32 {

// One of this layer's objects over a COM object's IDispatch: names resolve
// with GetIDsOfNames once each (then from a cache), invoke is IDispatch::
// Invoke as a method (also reading a property, as automation clients do),
// a property get with arguments or a property put, and advise connects a
// sink to the object's default source interface through its connection
// point. It belongs to the apartment of the thread that wrapped the
// interface and is called only there (a proxy carries other threads' calls
// in); the interface is released on that thread.
class ComDispatch final : public Dispatch {
 public:
  // On the thread that owns `object`, which must have an apartment.
  explicit ComDispatch(ComPtr<IDispatch> object);
  ~ComDispatch() override;

  // Each throws ApartmentError on a thread outside the object's apartment,
  // and what the COM failure maps to (see raise_com_error).
  DispId get_id_of_name(std::string_view name) override;
  Variant invoke(DispId id, InvokeKind kind, Args args) override;
  // The type name from the object's type information, without the
  // interface prefix ("CQGCEL" for ICQGCEL); "IDispatch" when it has none.
  // Any thread.
  std::string_view type_name() const noexcept override { return type_name_; }
  // A name resolved before; "#<id>" otherwise. Any thread.
  std::string name_of(DispId id) const override;
  // Throws std::runtime_error when the object has no type information to
  // find its default source interface by, or no connection point for it.
  Cookie advise(const DispatchPtr& sink) override;
  void unadvise(Cookie cookie) override;

  // The object's IUnknown, which COM keeps the same for every interface
  // and wrapper of one object. Any thread.
  const void* identity() const noexcept override { return identity_; }

  // The interface, for passing it back to COM (owning thread).
  IDispatch* get() const noexcept { return object_.get(); }

 private:
  void check_thread(std::string_view what) const;
  IID default_source_interface() const;

  ComPtr<IDispatch> object_;
  const void* identity_;
  std::string type_name_;
  mutable Mutex mutex_;
  std::unordered_map<std::string, DispId> ids_ GUARDED_BY(mutex_);
  std::unordered_map<DispId, std::string> names_ GUARDED_BY(mutex_);
  // Owning thread only.
  std::vector<std::pair<Cookie, ComPtr<IConnectionPoint>>> connections_;
};

}  // namespace orbrix::automation::win32
