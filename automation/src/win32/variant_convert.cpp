#include "variant_convert.hpp"

#include <fmt/format.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "com_bridge.hpp"
#include "com_dispatch.hpp"
#include "com_error.hpp"
#include "orbrix/automation/enumerator.hpp"
#include "orbrix/automation/errors.hpp"

namespace orbrix::automation::win32 {
namespace {

constexpr std::int64_t kMicrosPerDay = 86'400'000'000LL;
// 1899-12-30, the automation epoch, is 25569 days before 1970-01-01.
constexpr std::int64_t kEpochDays = 25'569;

// The items an enumerator hands out, read in one go on the owning thread.
Variant snapshot(IEnumVARIANT* items) {
  std::vector<Variant> values;
  for (;;) {
    ScopedVariant item;
    ULONG fetched = 0;
    const HRESULT hr = items->Next(1, item.get(), &fetched);
    if (FAILED(hr)) {
      throw std::runtime_error(
          fmt::format("reading a collection's items failed: {}", describe_hresult(hr)));
    }
    if (hr != S_OK || fetched == 0) {
      break;
    }
    values.push_back(from_com(*item));
  }
  return Variant(std::make_shared<Enumerator>(std::move(values)));
}

Variant from_unknown(IUnknown* unknown) {
  if (!unknown) {
    return {};
  }
  ComPtr<IDispatch> dispatch;
  if (SUCCEEDED(unknown->QueryInterface(IID_IDispatch, dispatch.put_void())) && dispatch) {
    return from_com_dispatch(dispatch);
  }
  ComPtr<IEnumVARIANT> items;
  if (SUCCEEDED(unknown->QueryInterface(IID_IEnumVARIANT, items.put_void())) && items) {
    return snapshot(items.get());
  }
  throw TypeError("expected an object with IDispatch, got an interface without it");
}

}  // namespace

Variant from_com_dispatch(const ComPtr<IDispatch>& dispatch) {
  if (!dispatch) {
    return {};
  }
  if (DispatchPtr own = ComBridge::target_of(dispatch.get())) {
    return Variant(std::move(own));
  }
  return Variant(std::make_shared<ComDispatch>(dispatch));
}

double to_ole_date(Date value) {
  const std::int64_t total = value.time_since_epoch().count() + kEpochDays * kMicrosPerDay;
  std::int64_t days = total / kMicrosPerDay;
  std::int64_t rest = total % kMicrosPerDay;
  if (rest < 0) {
    rest += kMicrosPerDay;
    --days;
  }
  const double fraction = static_cast<double>(rest) / static_cast<double>(kMicrosPerDay);
  // Before the epoch the time of day still counts away from it: -1.25 is
  // 1899-12-29 06:00.
  return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

Date from_ole_date(double value) {
  if (!std::isfinite(value) || std::fabs(value) > 3.0e6) {
    throw TypeError(fmt::format("expected date-time, got DATE {} out of range", value));
  }
  const double whole = std::trunc(value);
  const double fraction = std::fabs(value - whole);
  const auto days = static_cast<std::int64_t>(whole);
  const auto micros = static_cast<std::int64_t>(std::llround(fraction * kMicrosPerDay));
  return Date(std::chrono::microseconds((days - kEpochDays) * kMicrosPerDay + micros));
}

Variant from_com(const VARIANT& value) {
  const VARTYPE vt = V_VT(&value);
  if (vt & (VT_ARRAY | VT_VECTOR)) {
    throw TypeError(fmt::format("expected a single value, got an array (VARTYPE {:#x})", vt));
  }
  if (vt & VT_BYREF) {
    const VARTYPE base = vt & ~VT_BYREF;
    if (!V_BYREF(&value)) {
      return {};
    }
    if (base == VT_VARIANT) {
      return from_com(*V_VARIANTREF(&value));
    }
    // Read through the reference: the same value held directly.
    VARIANT direct;
    VariantInit(&direct);
    V_VT(&direct) = base;
    switch (base) {
      case VT_BSTR:
        V_BSTR(&direct) = *V_BSTRREF(&value);
        break;
      case VT_DISPATCH:
        V_DISPATCH(&direct) = *V_DISPATCHREF(&value);
        break;
      case VT_UNKNOWN:
        V_UNKNOWN(&direct) = *V_UNKNOWNREF(&value);
        break;
      case VT_BOOL:
        V_BOOL(&direct) = *V_BOOLREF(&value);
        break;
      case VT_I1:
        V_I1(&direct) = *V_I1REF(&value);
        break;
      case VT_UI1:
        V_UI1(&direct) = *V_UI1REF(&value);
        break;
      case VT_I2:
        V_I2(&direct) = *V_I2REF(&value);
        break;
      case VT_UI2:
        V_UI2(&direct) = *V_UI2REF(&value);
        break;
      case VT_I4:
      case VT_INT:
        V_I4(&direct) = *V_I4REF(&value);
        break;
      case VT_UI4:
      case VT_UINT:
        V_UI4(&direct) = *V_UI4REF(&value);
        break;
      case VT_I8:
        V_I8(&direct) = *V_I8REF(&value);
        break;
      case VT_UI8:
        V_UI8(&direct) = *V_UI8REF(&value);
        break;
      case VT_R4:
        V_R4(&direct) = *V_R4REF(&value);
        break;
      case VT_R8:
        V_R8(&direct) = *V_R8REF(&value);
        break;
      case VT_DATE:
        V_DATE(&direct) = *V_DATEREF(&value);
        break;
      case VT_CY:
        V_CY(&direct) = *V_CYREF(&value);
        break;
      case VT_ERROR:
        V_ERROR(&direct) = *V_ERRORREF(&value);
        break;
      default:
        throw TypeError(fmt::format("expected a value, got a reference of VARTYPE {:#x}", base));
    }
    // Borrowed, not owned: not cleared.
    return from_com(direct);
  }
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
      return {};
    case VT_ERROR:
      // A missing optional argument arrives as DISP_E_PARAMNOTFOUND.
      return {};
    case VT_BOOL:
      return Variant(V_BOOL(&value) != VARIANT_FALSE);
    case VT_I1:
      return Variant(static_cast<std::int64_t>(V_I1(&value)));
    case VT_UI1:
      return Variant(static_cast<std::int64_t>(V_UI1(&value)));
    case VT_I2:
      return Variant(static_cast<std::int64_t>(V_I2(&value)));
    case VT_UI2:
      return Variant(static_cast<std::int64_t>(V_UI2(&value)));
    case VT_I4:
    case VT_INT:
      return Variant(static_cast<std::int64_t>(V_I4(&value)));
    case VT_UI4:
    case VT_UINT:
      return Variant(static_cast<std::int64_t>(V_UI4(&value)));
    case VT_I8:
      return Variant(static_cast<std::int64_t>(V_I8(&value)));
    case VT_UI8:
      if (V_UI8(&value) > static_cast<ULONGLONG>(std::numeric_limits<std::int64_t>::max())) {
        throw TypeError("expected integer, got an unsigned value beyond 64-bit signed range");
      }
      return Variant(static_cast<std::int64_t>(V_UI8(&value)));
    case VT_R4:
      return Variant(static_cast<double>(V_R4(&value)));
    case VT_R8:
      return Variant(V_R8(&value));
    case VT_CY:
    case VT_DECIMAL: {
      ScopedVariant d;
      const HRESULT hr = VariantChangeType(d.get(), const_cast<VARIANT*>(&value), 0, VT_R8);
      if (FAILED(hr)) {
        throw TypeError("expected double, got a currency or decimal value out of range");
      }
      return Variant(V_R8(d.get()));
    }
    case VT_BSTR:
      return Variant(to_utf8(V_BSTR(&value)));
    case VT_DATE:
      return Variant(from_ole_date(V_DATE(&value)));
    case VT_DISPATCH:
      return from_com_dispatch(ComPtr<IDispatch>::share(V_DISPATCH(&value)));
    case VT_UNKNOWN:
      return from_unknown(V_UNKNOWN(&value));
    default:
      throw TypeError(fmt::format("expected a value, got VARTYPE {:#x}", vt));
  }
}

void to_com(const Variant& value, VARIANT& out) {
  VariantInit(&out);
  switch (value.kind()) {
    case VariantKind::Empty:
      return;
    case VariantKind::Bool:
      V_VT(&out) = VT_BOOL;
      V_BOOL(&out) = value.as_bool() ? VARIANT_TRUE : VARIANT_FALSE;
      return;
    case VariantKind::Int: {
      const std::int64_t i = value.as_int();
      if (i >= std::numeric_limits<LONG>::min() && i <= std::numeric_limits<LONG>::max()) {
        V_VT(&out) = VT_I4;
        V_I4(&out) = static_cast<LONG>(i);
      } else {
        V_VT(&out) = VT_I8;
        V_I8(&out) = i;
      }
      return;
    }
    case VariantKind::Double:
      V_VT(&out) = VT_R8;
      V_R8(&out) = value.as_double();
      return;
    case VariantKind::Text: {
      const std::wstring wide = to_wide(value.as_string());
      BSTR text = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
      if (!text) {
        throw std::bad_alloc();
      }
      V_VT(&out) = VT_BSTR;
      V_BSTR(&out) = text;
      return;
    }
    case VariantKind::Date:
      V_VT(&out) = VT_DATE;
      V_DATE(&out) = to_ole_date(value.as_date());
      return;
    case VariantKind::Object: {
      const DispatchPtr& object = value.as_object();
      ComPtr<IDispatch> dispatch;
      if (const auto* com = dynamic_cast<const ComDispatch*>(object.get())) {
        dispatch = ComPtr<IDispatch>::share(com->get());
      } else {
        dispatch = ComBridge::make(object);
      }
      V_VT(&out) = VT_DISPATCH;
      V_DISPATCH(&out) = dispatch.detach();
      return;
    }
  }
}

}  // namespace orbrix::automation::win32
