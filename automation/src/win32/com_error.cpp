#include "com_error.hpp"

#include <fmt/format.h>

#include <stdexcept>

#include "orbrix/automation/errors.hpp"

namespace orbrix::automation::win32 {
namespace {

// Takes the strings out of an EXCEPINFO (filling it in first when the server
// deferred that) and frees them.
struct ExceptionText {
  std::string description;
  HRESULT code = S_OK;
};

ExceptionText take(EXCEPINFO* info) {
  ExceptionText text;
  if (!info) {
    return text;
  }
  if (info->pfnDeferredFillIn) {
    info->pfnDeferredFillIn(info);
  }
  text.description = to_utf8(info->bstrDescription);
  text.code = info->scode != 0 ? info->scode : S_OK;
  SysFreeString(info->bstrSource);
  SysFreeString(info->bstrDescription);
  SysFreeString(info->bstrHelpFile);
  *info = EXCEPINFO{};
  return text;
}

[[noreturn]] void raise_as(HRESULT hr, const std::string& text) {
  switch (hr) {
    case DISP_E_UNKNOWNNAME:
    case DISP_E_MEMBERNOTFOUND:
      throw UnknownNameError(text);
    case DISP_E_TYPEMISMATCH:
      throw TypeError(text);
    case DISP_E_BADPARAMCOUNT:
    case DISP_E_PARAMNOTOPTIONAL:
    case DISP_E_PARAMNOTFOUND:
    case DISP_E_OVERFLOW:
    case DISP_E_BADINDEX:
    case E_INVALIDARG:
      throw std::invalid_argument(text);
    case RPC_E_DISCONNECTED:
    case CO_E_OBJNOTCONNECTED:
    case RPC_E_SERVER_DIED:
    case RPC_E_SERVER_DIED_DNE:
      throw DisconnectedError(text);
    case RPC_E_TIMEOUT:
      throw CallTimeoutError(text);
    case CO_E_CLASSSTRING:
    case REGDB_E_CLASSNOTREG:
    case CO_E_APPNOTFOUND:
      throw ClassNotRegisteredError(text);
    case CO_E_NOTINITIALIZED:
    case RPC_E_CHANGED_MODE:
    case RPC_E_WRONG_THREAD:
      throw ApartmentError(text);
    default:
      throw std::runtime_error(text);
  }
}

}  // namespace

std::string describe_hresult(HRESULT hr) {
  const auto code = static_cast<unsigned long>(hr);
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  if (n > 0 && buffer) {
    text = to_utf8(buffer, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                             text.back() == '.')) {
      text.pop_back();
    }
  }
  LocalFree(buffer);
  return text.empty() ? fmt::format("0x{:08X}", code) : fmt::format("{} (0x{:08X})", text, code);
}

void raise_com_error(HRESULT hr, std::string_view context, EXCEPINFO* info) {
  if (hr == DISP_E_EXCEPTION) {
    const ExceptionText e = take(info);
    // The server's own words; its code (when it gave one) picks the type.
    const std::string text = e.description.empty()
                                 ? fmt::format("{}: the object raised an error", context)
                                 : e.description;
    raise_as(e.code != S_OK ? e.code : E_FAIL, text);
  }
  take(info);
  raise_as(hr, fmt::format("{}: {}", context, describe_hresult(hr)));
}

}  // namespace orbrix::automation::win32
