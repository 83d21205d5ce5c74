#include "com_bridge.hpp"

#include <memory>
#include <string>
#include <vector>

#include "orbrix/automation/errors.hpp"
#include "variant_convert.hpp"

namespace orbrix::automation::win32 {
namespace {

// Asked of an IDispatch to learn whether it is one of our bridges; answered
// only by ComBridge, with the bridge itself.
// {6F0C2B8E-5A41-4C3B-9E7D-2B1A0C9D8E71}
constexpr IID kBridgeIid = {
    0x6f0c2b8e, 0x5a41, 0x4c3b, {0x9e, 0x7d, 0x2b, 0x1a, 0x0c, 0x9d, 0x8e, 0x71}};

BSTR alloc_text(std::string_view text) {
  const std::wstring wide = to_wide(text);
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

HRESULT report(EXCEPINFO* exception, std::string_view source, std::string_view what) {
  if (exception) {
    *exception = EXCEPINFO{};
    exception->bstrSource = alloc_text(source);
    exception->bstrDescription = alloc_text(what);
    exception->scode = E_FAIL;
  }
  return DISP_E_EXCEPTION;
}

}  // namespace

ComPtr<IDispatch> ComBridge::make(DispatchPtr target, const IID& events) {
  // A COM object owns itself through its reference count: the one reference
  // made here is handed to the ComPtr, and Release deletes the bridge.
  return ComPtr<IDispatch>::adopt(new ComBridge(std::move(target), events));
}

DispatchPtr ComBridge::target_of(IDispatch* dispatch) noexcept {
  void* bridge = nullptr;
  if (!dispatch || FAILED(dispatch->QueryInterface(kBridgeIid, &bridge)) || !bridge) {
    return nullptr;
  }
  auto* self = static_cast<ComBridge*>(bridge);
  DispatchPtr target = self->target_;
  self->Release();
  return target;
}

HRESULT ComBridge::QueryInterface(REFIID riid, void** object) {
  if (!object) {
    return E_POINTER;
  }
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
      IsEqualIID(riid, kBridgeIid) ||
      (!IsEqualIID(events_, IID_NULL) && IsEqualIID(riid, events_))) {
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG ComBridge::AddRef() {
  return ++refs_;
}

ULONG ComBridge::Release() {
  const ULONG left = --refs_;
  if (left == 0) {
    delete this;
  }
  return left;
}

HRESULT ComBridge::GetTypeInfoCount(UINT* count) {
  if (!count) {
    return E_POINTER;
  }
  *count = 0;
  return S_OK;
}

HRESULT ComBridge::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) {
    *info = nullptr;
  }
  return E_NOTIMPL;
}

HRESULT ComBridge::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!names || !ids) {
    return E_POINTER;
  }
  HRESULT hr = S_OK;
  for (UINT i = 0; i < count; ++i) {
    ids[i] = DISPID_UNKNOWN;
    // Named arguments (names after the first) are not supported.
    if (i > 0) {
      hr = DISP_E_UNKNOWNNAME;
      continue;
    }
    try {
      ids[i] = target_->get_id_of_name(to_utf8(names[i], wcslen(names[i])));
    } catch (const UnknownNameError&) {
      hr = DISP_E_UNKNOWNNAME;
    } catch (...) {
      return E_FAIL;
    }
  }
  return hr;
}

HRESULT ComBridge::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                          EXCEPINFO* exception, UINT* bad_argument) {
  if (result) {
    VariantInit(result);
  }
  std::vector<Variant> args;
  UINT index = 0;
  try {
    const UINT count = params ? params->cArgs : 0;
    args.reserve(count);
    // DISPPARAMS hold the arguments right to left.
    for (UINT i = 0; i < count; ++i) {
      index = count - 1 - i;
      args.push_back(from_com(params->rgvarg[index]));
    }
  } catch (const std::exception& e) {
    if (bad_argument) {
      *bad_argument = index;
    }
    return report(exception, target_->type_name(), e.what());
  }
  InvokeKind kind = InvokeKind::Method;
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    kind = InvokeKind::PropertyPut;
  } else if ((flags & DISPATCH_PROPERTYGET) && !(flags & DISPATCH_METHOD)) {
    kind = InvokeKind::PropertyGet;
  }
  try {
    const Variant value = target_->invoke(id, kind, args);
    if (result) {
      to_com(value, *result);
    }
    return S_OK;
  } catch (const UnknownNameError&) {
    return DISP_E_MEMBERNOTFOUND;
  } catch (const std::exception& e) {
    return report(exception, target_->type_name(), e.what());
  } catch (...) {
    return report(exception, target_->type_name(), "unknown error");
  }
}

}  // namespace orbrix::automation::win32
