#pragma once

#include <atomic>

#include "com.hpp"
#include "orbrix/automation/dispatch.hpp"

namespace orbrix::automation::win32 {

// A COM IDispatch over one of this layer's objects: what a COM server sees
// of an event sink (CELSinkBase) or of any other of our objects passed to
// it. Names resolve through get_id_of_name; Invoke converts the arguments
// (right to left in DISPPARAMS, by-reference ones read through) and calls
// invoke by id, so an event reaches the sink's handler for that DISPID. An
// exception becomes DISP_E_EXCEPTION with its text as the description. It
// runs on the thread the server calls it on (the apartment's).
class ComBridge final : public IDispatch {
 public:
  // `events` is the outgoing interface the bridge stands for, answered by
  // QueryInterface as a connection point asks (IID_NULL for none).
  static ComPtr<IDispatch> make(DispatchPtr target, const IID& events = IID_NULL);
  // The object behind `dispatch` when it is one of our bridges; else null.
  static DispatchPtr target_of(IDispatch* dispatch) noexcept;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* bad_argument) override;

 private:
  ComBridge(DispatchPtr target, const IID& events) : target_(std::move(target)), events_(events) {}
  ~ComBridge() = default;

  std::atomic<ULONG> refs_{1};
  DispatchPtr target_;
  IID events_;
};

}  // namespace orbrix::automation::win32
