// A registered type library read through ITypeLib/ITypeInfo: the constants of
// its enumerations (VARDESCs) and the members of its dispinterfaces (the
// events of an outgoing interface with their DISPIDs and parameter counts).

#include "orbrix/automation/type_library.hpp"

#include "../platform.hpp"
#include "com.hpp"

namespace orbrix::automation::detail {

using win32::ComPtr;

namespace {

std::string name_of(ITypeInfo* info, MEMBERID id) {
  BSTR name = nullptr;
  if (FAILED(info->GetDocumentation(id, &name, nullptr, nullptr, nullptr))) {
    return {};
  }
  std::string text = win32::to_utf8(name);
  SysFreeString(name);
  return text;
}

void read_enum(ITypeInfo* info, const TYPEATTR& attr, TypeLibrary& library) {
  for (WORD i = 0; i < attr.cVars; ++i) {
    VARDESC* var = nullptr;
    if (FAILED(info->GetVarDesc(i, &var))) {
      continue;
    }
    if (var->varkind == VAR_CONST && var->lpvarValue) {
      VARIANT value;
      VariantInit(&value);
      const std::string name = name_of(info, var->memid);
      if (SUCCEEDED(VariantChangeType(&value, var->lpvarValue, 0, VT_I8)) && !name.empty() &&
          !library.has_constant(name)) {
        library.add_constant(name, V_I8(&value));
      }
      VariantClear(&value);
    }
    info->ReleaseVarDesc(var);
  }
}

void read_dispinterface(ITypeInfo* info, const TYPEATTR& attr, TypeLibrary& library) {
  EventInterface events(name_of(info, MEMBERID_NIL));
  for (WORD i = 0; i < attr.cFuncs; ++i) {
    FUNCDESC* func = nullptr;
    if (FAILED(info->GetFuncDesc(i, &func))) {
      continue;
    }
    if (func->invkind == INVOKE_FUNC) {
      const std::string name = name_of(info, func->memid);
      if (!name.empty() && !events.find(name)) {
        events.add(name, func->memid, func->cParams);
      }
    }
    info->ReleaseFuncDesc(func);
  }
  library.add_event_interface(std::move(events));
}

}  // namespace

std::shared_ptr<const TypeLibrary> load_native_type_library(std::string_view guid, int major,
                                                            int minor, std::uint32_t lcid) {
  GUID id;
  const std::wstring text = win32::to_wide(guid);
  if (FAILED(CLSIDFromString(text.c_str(), &id))) {
    return nullptr;
  }
  ComPtr<ITypeLib> tl;
  if (FAILED(
          LoadRegTypeLib(id, static_cast<WORD>(major), static_cast<WORD>(minor), lcid, tl.put()))) {
    return nullptr;
  }
  TLIBATTR* lib_attr = nullptr;
  if (FAILED(tl->GetLibAttr(&lib_attr))) {
    return nullptr;
  }
  const int found_major = lib_attr->wMajorVerNum;
  const int found_minor = lib_attr->wMinorVerNum;
  tl->ReleaseTLibAttr(lib_attr);
  BSTR lib_name = nullptr;
  std::string name = std::string(guid);
  if (SUCCEEDED(tl->GetDocumentation(-1, &lib_name, nullptr, nullptr, nullptr))) {
    name = win32::to_utf8(lib_name);
    SysFreeString(lib_name);
  }
  auto library = std::make_shared<TypeLibrary>(name, std::string(guid), found_major, found_minor);
  for (UINT i = 0, n = tl->GetTypeInfoCount(); i < n; ++i) {
    TYPEKIND kind;
    ComPtr<ITypeInfo> info;
    if (FAILED(tl->GetTypeInfoType(i, &kind)) || (kind != TKIND_ENUM && kind != TKIND_DISPATCH) ||
        FAILED(tl->GetTypeInfo(i, info.put()))) {
      continue;
    }
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr))) {
      continue;
    }
    if (kind == TKIND_ENUM) {
      read_enum(info.get(), *attr, *library);
    } else {
      read_dispinterface(info.get(), *attr, *library);
    }
    info->ReleaseTypeAttr(attr);
  }
  return library;
}

}  // namespace orbrix::automation::detail
