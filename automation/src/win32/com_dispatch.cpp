#include "com_dispatch.hpp"

#include <fmt/format.h>

#include <cctype>
#include <stdexcept>
#include <thread>

#include "com_bridge.hpp"
#include "com_error.hpp"
#include "orbrix/automation/apartment.hpp"
#include "orbrix/automation/diagnostics.hpp"
#include "orbrix/automation/errors.hpp"
#include "orbrix/automation/names.hpp"
#include "variant_convert.hpp"

namespace orbrix::automation::win32 {
namespace {

std::string type_name_of(IDispatch* object) {
  ComPtr<ITypeInfo> info;
  BSTR name = nullptr;
  if (FAILED(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put())) || !info ||
      FAILED(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr))) {
    return "IDispatch";
  }
  std::string text = to_utf8(name);
  SysFreeString(name);
  // ICQGCEL is the interface of the class CQGCEL.
  if (text.size() > 1 && text[0] == 'I' && std::isupper(static_cast<unsigned char>(text[1]))) {
    text.erase(0, 1);
  }
  return text.empty() ? std::string("IDispatch") : text;
}

struct TypeAttr {
  ITypeInfo* info;
  TYPEATTR* attr = nullptr;
  explicit TypeAttr(ITypeInfo* i) : info(i) {
    if (FAILED(info->GetTypeAttr(&attr))) {
      attr = nullptr;
    }
  }
  ~TypeAttr() {
    if (attr) {
      info->ReleaseTypeAttr(attr);
    }
  }
  TypeAttr(const TypeAttr&) = delete;
  TypeAttr& operator=(const TypeAttr&) = delete;
};

WORD invoke_flags(InvokeKind kind) {
  switch (kind) {
    case InvokeKind::PropertyGet:
      return DISPATCH_PROPERTYGET;
    case InvokeKind::PropertyPut:
      return DISPATCH_PROPERTYPUT;
    case InvokeKind::Method:
      break;
  }
  // What late-bound clients send for a call: a parameterised property such
  // as Item(i) answers it as well as a method does.
  return DISPATCH_METHOD | DISPATCH_PROPERTYGET;
}

}  // namespace

namespace {

// The IUnknown of an object, compared by value only (released at once: it
// stays valid while the object lives, which the wrapper's reference ensures).
const void* unknown_of(IDispatch* object) {
  IUnknown* unknown = nullptr;
  if (object &&
      SUCCEEDED(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown))) &&
      unknown) {
    unknown->Release();
    return unknown;
  }
  return object;
}

}  // namespace

ComDispatch::ComDispatch(ComPtr<IDispatch> object)
    : object_(std::move(object)),
      identity_(unknown_of(object_.get())),
      type_name_(type_name_of(object_.get())) {}

ComDispatch::~ComDispatch() {
  const auto& home = apartment();
  if (!object_ || !home || home->thread_id() == std::this_thread::get_id()) {
    // The owning thread, also while its apartment shuts down.
    for (auto& [cookie, point] : connections_) {
      point->Unadvise(cookie);
    }
    return;
  }
  // Never released on a foreign thread: handed to the owner, or given up
  // (reported) when the owner has gone.
  struct Held {
    ComPtr<IDispatch> object;
    std::vector<std::pair<Cookie, ComPtr<IConnectionPoint>>> connections;
    std::thread::id owner;
    ~Held() {
      if (std::this_thread::get_id() != owner) {
        (void)object.detach();
        for (auto& c : connections) {
          (void)c.second.detach();
        }
      }
    }
  };
  auto held =
      std::make_unique<Held>(Held{std::move(object_), std::move(connections_), home->thread_id()});
  if (!home->post([h = std::move(held)] {})) {
    report_error(
        fmt::format("a COM reference to {} outlived its apartment's thread; it is left unreleased",
                    type_name_));
  }
}

void ComDispatch::check_thread(std::string_view what) const {
  const auto& home = apartment();
  if (home && !home->is_current()) {
    throw ApartmentError(
        fmt::format("{}.{}: a COM object is called only on its apartment's thread (use a proxy)",
                    type_name_, what));
  }
}

DispId ComDispatch::get_id_of_name(std::string_view name) {
  std::string key = fold_case(name);
  {
    MutexLock lock(mutex_);
    if (auto it = ids_.find(key); it != ids_.end()) {
      return it->second;
    }
  }
  check_thread(name);
  std::wstring wide = to_wide(name);
  LPOLESTR names[] = {wide.data()};
  DISPID id = DISPID_UNKNOWN;
  const HRESULT hr = object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) {
    if (hr == DISP_E_UNKNOWNNAME) {
      throw UnknownNameError(fmt::format("{} has no member named '{}'", type_name_, name));
    }
    raise_com_error(hr, fmt::format("{}.{}", type_name_, name));
  }
  MutexLock lock(mutex_);
  names_.emplace(id, std::string(name));
  ids_.emplace(std::move(key), id);
  return id;
}

std::string ComDispatch::name_of(DispId id) const {
  MutexLock lock(mutex_);
  if (auto it = names_.find(id); it != names_.end()) {
    return it->second;
  }
  return Dispatch::name_of(id);
}

Variant ComDispatch::invoke(DispId id, InvokeKind kind, Args args) {
  check_thread(name_of(id));
  // DISPPARAMS hold the arguments right to left; a put's value, the last
  // argument, is the named argument DISPID_PROPERTYPUT.
  std::vector<VARIANT> in(args.size());
  std::size_t converted = 0;
  struct Clear {
    std::vector<VARIANT>& values;
    std::size_t& count;
    ~Clear() {
      for (std::size_t i = 0; i < count; ++i) {
        VariantClear(&values[i]);
      }
    }
  } clear{in, converted};
  for (std::size_t i = 0; i < args.size(); ++i) {
    to_com(args[i], in[args.size() - 1 - i]);
    ++converted;
  }
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{in.data(), nullptr, static_cast<UINT>(in.size()), 0};
  if (kind == InvokeKind::PropertyPut) {
    if (args.empty()) {
      throw std::invalid_argument(
          fmt::format("{}.{}: a property put needs a value", type_name_, name_of(id)));
    }
    params.rgdispidNamedArgs = &put;
    params.cNamedArgs = 1;
  }
  ScopedVariant result;
  EXCEPINFO exception{};
  UINT bad_argument = 0;
  const HRESULT hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, invoke_flags(kind), &params,
                                     kind == InvokeKind::PropertyPut ? nullptr : result.get(),
                                     &exception, &bad_argument);
  if (FAILED(hr)) {
    raise_com_error(hr, fmt::format("{}.{}", type_name_, name_of(id)), &exception);
  }
  return from_com(*result);
}

IID ComDispatch::default_source_interface() const {
  ComPtr<ITypeInfo> info;
  if (FAILED(object_->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put())) || !info) {
    throw std::runtime_error(
        fmt::format("{} has no type information: its event interface cannot be found", type_name_));
  }
  IID own{};
  {
    const TypeAttr attr(info.get());
    if (!attr.attr) {
      throw std::runtime_error(fmt::format("{}: its type information is unreadable", type_name_));
    }
    own = attr.attr->guid;
  }
  ComPtr<ITypeLib> library;
  UINT index = 0;
  if (FAILED(info->GetContainingTypeLib(library.put(), &index)) || !library) {
    throw std::runtime_error(fmt::format("{}: its type library cannot be read", type_name_));
  }
  // The class whose default interface is this object's names the default
  // source interface beside it.
  for (UINT i = 0, n = library->GetTypeInfoCount(); i < n; ++i) {
    TYPEKIND kind;
    if (FAILED(library->GetTypeInfoType(i, &kind)) || kind != TKIND_COCLASS) {
      continue;
    }
    ComPtr<ITypeInfo> coclass;
    if (FAILED(library->GetTypeInfo(i, coclass.put()))) {
      continue;
    }
    const TypeAttr attr(coclass.get());
    if (!attr.attr) {
      continue;
    }
    bool is_default = false;
    IID source{};
    bool has_source = false;
    for (WORD j = 0; j < attr.attr->cImplTypes; ++j) {
      INT flags = 0;
      HREFTYPE ref = 0;
      ComPtr<ITypeInfo> implemented;
      if (FAILED(coclass->GetImplTypeFlags(j, &flags)) || !(flags & IMPLTYPEFLAG_FDEFAULT) ||
          FAILED(coclass->GetRefTypeOfImplType(j, &ref)) ||
          FAILED(coclass->GetRefTypeInfo(ref, implemented.put()))) {
        continue;
      }
      const TypeAttr impl(implemented.get());
      if (!impl.attr) {
        continue;
      }
      if (flags & IMPLTYPEFLAG_FSOURCE) {
        source = impl.attr->guid;
        has_source = true;
      } else if (IsEqualGUID(impl.attr->guid, own)) {
        is_default = true;
      }
    }
    if (is_default && has_source) {
      return source;
    }
  }
  throw std::runtime_error(
      fmt::format("{} has no default source interface in its type library", type_name_));
}

Cookie ComDispatch::advise(const DispatchPtr& sink) {
  check_thread("advise");
  if (!sink) {
    throw std::invalid_argument(fmt::format("{}: cannot connect a null sink", type_name_));
  }
  const IID events = default_source_interface();
  ComPtr<IConnectionPointContainer> container;
  HRESULT hr = object_->QueryInterface(IID_IConnectionPointContainer, container.put_void());
  if (FAILED(hr)) {
    raise_com_error(hr, fmt::format("{} has no connection points", type_name_));
  }
  ComPtr<IConnectionPoint> point;
  hr = container->FindConnectionPoint(events, point.put());
  if (FAILED(hr)) {
    raise_com_error(hr,
                    fmt::format("{}: no connection point for {}", type_name_, guid_text(events)));
  }
  const ComPtr<IDispatch> bridge = ComBridge::make(sink, events);
  DWORD cookie = 0;
  hr = point->Advise(bridge.get(), &cookie);
  if (FAILED(hr)) {
    raise_com_error(hr, fmt::format("{}: connecting the sink failed", type_name_));
  }
  connections_.emplace_back(static_cast<Cookie>(cookie), std::move(point));
  return static_cast<Cookie>(cookie);
}

void ComDispatch::unadvise(Cookie cookie) {
  check_thread("unadvise");
  for (auto it = connections_.begin(); it != connections_.end(); ++it) {
    if (it->first == cookie) {
      const ComPtr<IConnectionPoint> point = std::move(it->second);
      connections_.erase(it);
      point->Unadvise(cookie);
      return;
    }
  }
}

}  // namespace orbrix::automation::win32
