// Creation by ProgID through COM: CLSIDFromProgID, then CoCreateInstance in
// the calling thread's apartment.

#include <fmt/format.h>

#include "../platform.hpp"
#include "com_dispatch.hpp"
#include "com_error.hpp"
#include "orbrix/automation/apartment.hpp"
#include "orbrix/automation/errors.hpp"

namespace orbrix::automation::detail {

using win32::ComPtr;

DispatchPtr create_native_object(std::string_view prog_id) {
  CLSID clsid;
  const std::wstring name = win32::to_wide(prog_id);
  HRESULT hr = CLSIDFromProgID(name.c_str(), &clsid);
  if (hr == CO_E_CLASSSTRING || hr == REGDB_E_CLASSNOTREG || hr == REGDB_E_READREGDB) {
    return nullptr;  // no such ProgID: the caller says so
  }
  if (FAILED(hr)) {
    win32::raise_com_error(hr, fmt::format("looking up \"{}\"", prog_id));
  }
  if (!Apartment::current()) {
    throw ApartmentError(fmt::format(
        "cannot create \"{}\": the calling thread has no apartment (co_initialize first)",
        prog_id));
  }
  ComPtr<IDispatch> object;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                        object.put_void());
  if (FAILED(hr)) {
    win32::raise_com_error(hr,
                           fmt::format("creating \"{}\" ({})", prog_id, win32::guid_text(clsid)));
  }
  return std::make_shared<win32::ComDispatch>(std::move(object));
}

}  // namespace orbrix::automation::detail
