#include "com.hpp"

#include <fmt/format.h>

#include <stdexcept>

namespace orbrix::automation::win32 {

std::wstring to_wide(std::string_view utf8) {
  if (utf8.empty()) {
    return {};
  }
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (n <= 0) {
    throw std::invalid_argument("text is not valid UTF-8");
  }
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string to_utf8(const wchar_t* text, std::size_t size) {
  if (!text || size == 0) {
    return {};
  }
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
  if (n <= 0) {
    return {};
  }
  std::string utf8(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), utf8.data(), n, nullptr, nullptr);
  return utf8;
}

std::string to_utf8(BSTR text) {
  return text ? to_utf8(text, SysStringLen(text)) : std::string();
}

std::string guid_text(const GUID& g) {
  return fmt::format("{{{:08X}-{:04X}-{:04X}-{:02X}{:02X}-{:02X}{:02X}{:02X}{:02X}{:02X}{:02X}}}",
                     static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                     g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
}

}  // namespace orbrix::automation::win32
