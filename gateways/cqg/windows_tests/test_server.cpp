#include "test_server.hpp"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <ocidl.h>
#include <oleauto.h>
#include <olectl.h>
#include <windows.h>

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace orbrix::wintest {
namespace {

// {8A1F0C30-62D4-4E8B-9B70-3C5D2E1F0AF0}, the IDL's coclass.
constexpr CLSID kClsid = {
    0x8a1f0c30, 0x62d4, 0x4e8b, {0x9b, 0x70, 0x3c, 0x5d, 0x2e, 0x1f, 0x0a, 0xf0}};
constexpr GUID kLibId = {
    0x51f35562, 0xaeb4, 0x4ab3, {0x99, 0xe8, 0xac, 0x96, 0x66, 0x34, 0x4b, 0x64}};
constexpr wchar_t kClsidText[] = L"{8A1F0C30-62D4-4E8B-9B70-3C5D2E1F0AF0}";
constexpr wchar_t kProgIdKey[] = L"CQG.CQGCEL.4\\CLSID";
constexpr IID kEventsIid = {
    0x8a1f0c30, 0x62d4, 0x4e8b, {0x9b, 0x70, 0x3c, 0x5d, 0x2e, 0x1f, 0x0a, 0xe0}};
IID iface(unsigned char last) {
  return IID{0x8a1f0c30, 0x62d4, 0x4e8b, {0x9b, 0x70, 0x3c, 0x5d, 0x2e, 0x1f, 0x0a, last}};
}

// The IDL's values.
enum : LONG {
  csConnectionUp = 401,
  csConnectionDown = 402,
  aslAccountUpdatesAndOrders = 922,
  actAccountsReloaded = 943,
  osdBuy = 711,
  opGWStatus = 801,
  opGUID = 802,
  opEventServerTimestamp = 803,
  opAverageFillPrice = 804,
  opFilledQuantity = 805,
  ctAdded = 901,
  ctChanged = 902,
  fsNormal = 911,
  osNotSent = 1007,
  osInOrderBook = 1009,
  osFilled = 1010,
  osCanceled = 1012,
  qtAsk = 1101,
  qtBid = 1102,
  qtTrade = 1116,
};
enum : DISPID {
  evCELStarted = 301,
  evGWConnectionStatusChanged = 305,
  evInstrumentResolved = 340,
  evInstrumentChanged = 311,
  evAccountChanged = 322,
  evOrderChanged = 333,
};

std::atomic<long> g_live{0};
std::atomic<long> g_send_timeouts{0};
constexpr double kFillTime = 45260.5;  // 2023-11-30 12:00

template <class T>
struct Ref {  // an owning interface pointer
  T* p = nullptr;
  Ref() = default;
  explicit Ref(T* q, bool add = true) : p(q) {
    if (p && add) {
      p->AddRef();
    }
  }
  Ref(const Ref& o) : Ref(o.p) {}
  Ref& operator=(Ref o) {
    std::swap(p, o.p);
    return *this;
  }
  ~Ref() {
    if (p) {
      p->Release();
    }
  }
  T* operator->() const { return p; }
};

// An empty VARIANT of type `vt`, for the makers below to fill in.
VARIANT typed(VARTYPE vt) {
  VARIANT x;
  VariantInit(&x);
  V_VT(&x) = vt;
  return x;
}
VARIANT v_i4(LONG v) {
  VARIANT x = typed(VT_I4);
  V_I4(&x) = v;
  return x;
}
VARIANT v_r8(double v) {
  VARIANT x = typed(VT_R8);
  V_R8(&x) = v;
  return x;
}
VARIANT v_bool(bool v) {
  VARIANT x = typed(VT_BOOL);
  V_BOOL(&x) = v ? VARIANT_TRUE : VARIANT_FALSE;
  return x;
}
VARIANT v_text(const std::wstring& v) {
  VARIANT x = typed(VT_BSTR);
  V_BSTR(&x) = SysAllocStringLen(v.data(), static_cast<UINT>(v.size()));
  return x;
}
VARIANT v_date(double v) {
  VARIANT x = typed(VT_DATE);
  V_DATE(&x) = v;
  return x;
}
VARIANT v_object(IDispatch* d) {
  VARIANT x = typed(VT_DISPATCH);
  V_DISPATCH(&x) = d;
  if (d) {
    d->AddRef();
  }
  return x;
}
VARIANT v_null() {
  return typed(VT_NULL);
}

ITypeLib* type_library() {
  static ITypeLib* library = [] {
    ITypeLib* tl = nullptr;
    LoadRegTypeLib(kLibId, 4, 0, 0, &tl);
    return tl;
  }();
  return library;
}

// Arguments left to right, by-reference ones read through.
using Args = std::vector<VARIANT>;
using Run = std::function<HRESULT(WORD flags, Args& args, VARIANT* result)>;

LONG as_i4(const VARIANT& v) {
  VARIANT t;
  VariantInit(&t);
  if (FAILED(VariantChangeType(&t, const_cast<VARIANT*>(&v), 0, VT_I4))) {
    throw std::invalid_argument("not a number");
  }
  return V_I4(&t);
}
double as_r8(const VARIANT& v) {
  VARIANT t;
  VariantInit(&t);
  if (FAILED(VariantChangeType(&t, const_cast<VARIANT*>(&v), 0, VT_R8))) {
    throw std::invalid_argument("not a number");
  }
  return V_R8(&t);
}
std::wstring as_text(const VARIANT& v) {
  VARIANT t;
  VariantInit(&t);
  if (FAILED(VariantChangeType(&t, const_cast<VARIANT*>(&v), 0, VT_BSTR))) {
    throw std::invalid_argument("not text");
  }
  std::wstring s(V_BSTR(&t), SysStringLen(V_BSTR(&t)));
  VariantClear(&t);
  return s;
}

// An automation object whose members are a table of names and closures.
// Reference counting for the server's heap objects: each starts with the one
// reference its creator adopts and deletes itself with the last Release.
template <class Interface>
class Counted : public Interface {
 public:
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --refs_;
    if (left == 0) {
      delete this;
    }
    return left;
  }

 protected:
  Counted() = default;
  virtual ~Counted() = default;
  // Answers IUnknown and `own` with this interface.
  HRESULT query(REFIID riid, REFIID own, void** out) {
    if (riid == IID_IUnknown || riid == own) {
      *out = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }

 private:
  std::atomic<ULONG> refs_{1};
};

class TestObject : public Counted<IDispatch> {
 public:
  explicit TestObject(IID type) : type_(type) { ++g_live; }
  ~TestObject() override { --g_live; }

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    const HRESULT hr = query(riid == type_ ? IID_IDispatch : riid, IID_IDispatch, out);
    return SUCCEEDED(hr) ? hr : query_more(riid, out);
  }
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    *n = type_library() ? 1 : 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT i, LCID, ITypeInfo** out) override {
    *out = nullptr;
    if (i != 0) {
      return DISP_E_BADINDEX;
    }
    if (!type_library()) {
      return TYPE_E_ELEMENTNOTFOUND;
    }
    return type_library()->GetTypeInfoOfGuid(type_, out);
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    for (UINT i = 0; i < count; ++i) {
      ids[i] = DISPID_UNKNOWN;
    }
    if (count != 1) {
      return DISP_E_UNKNOWNNAME;
    }
    for (const auto& m : members_) {
      if (_wcsicmp(m.name, names[0]) == 0) {
        ids[0] = m.id;
        return S_OK;
      }
    }
    return DISP_E_UNKNOWNNAME;
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT*) override {
    for (auto& m : members_) {
      if (m.id != id) {
        continue;
      }
      Args args;
      for (UINT i = params->cArgs; i-- > 0;) {
        VARIANT a;
        VariantInit(&a);
        VariantCopyInd(&a, &params->rgvarg[i]);
        args.push_back(a);
      }
      VARIANT ignored;
      VariantInit(&ignored);
      HRESULT hr;
      try {
        hr = m.run(flags, args, result ? result : &ignored);
      } catch (const std::invalid_argument&) {
        hr = DISP_E_TYPEMISMATCH;
      } catch (const std::out_of_range&) {
        hr = DISP_E_BADPARAMCOUNT;
      }
      VariantClear(&ignored);
      for (auto& a : args) {
        VariantClear(&a);
      }
      if (hr == DISP_E_EXCEPTION && exception) {
        *exception = EXCEPINFO{};
        exception->bstrSource = SysAllocString(L"CQGCEL");
        exception->bstrDescription = SysAllocString(error_text_.c_str());
      }
      return hr;
    }
    return DISP_E_MEMBERNOTFOUND;
  }

 protected:
  void member(const wchar_t* name, Run run, DISPID id = DISPID_UNKNOWN) {
    members_.push_back({name, id != DISPID_UNKNOWN ? id : static_cast<DISPID>(members_.size() + 1),
                        std::move(run)});
  }
  // A read-only property with a value computed on each read.
  void property(const wchar_t* name, std::function<VARIANT()> value) {
    member(name, [value](WORD, Args&, VARIANT* r) {
      *r = value();
      return S_OK;
    });
  }
  // A property the client may also set.
  void settable(const wchar_t* name, VARIANT initial) {
    auto* slot = &values_.emplace_back(initial);
    member(name, [slot](WORD flags, Args& args, VARIANT* r) {
      if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        if (args.empty()) {
          return DISP_E_BADPARAMCOUNT;
        }
        VariantClear(slot);
        return VariantCopy(slot, &args.back());
      }
      return VariantCopy(r, slot);
    });
  }
  VARIANT value(std::size_t index) const { return values_[index]; }
  HRESULT raise(std::wstring text) {
    error_text_ = std::move(text);
    return DISP_E_EXCEPTION;
  }
  virtual HRESULT query_more(REFIID, void** out) {
    *out = nullptr;
    return E_NOINTERFACE;
  }

 private:
  struct Member {
    const wchar_t* name;
    DISPID id;
    Run run;
  };
  IID type_;
  std::vector<Member> members_;
  std::deque<VARIANT> values_;  // stable addresses for the closures
  std::wstring error_text_;

 public:
  void clear_values() {
    for (auto& v : values_) {
      VariantClear(&v);
    }
  }
};

class Enum final : public Counted<IEnumVARIANT> {
 public:
  explicit Enum(std::vector<Ref<IDispatch>> items) : items_(std::move(items)) { ++g_live; }
  ~Enum() override { --g_live; }
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    return query(riid, IID_IEnumVARIANT, out);
  }
  STDMETHODIMP Next(ULONG n, VARIANT* out, ULONG* fetched) override {
    ULONG got = 0;
    for (; got < n && next_ < items_.size(); ++got) {
      out[got] = v_object(items_[next_++].p);
    }
    if (fetched) {
      *fetched = got;
    }
    return got == n ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG n) override {
    next_ += n;
    return next_ <= items_.size() ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    next_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumVARIANT**) override { return E_NOTIMPL; }

 private:
  std::vector<Ref<IDispatch>> items_;
  std::size_t next_ = 0;
};

// Count, Item (the default member), ItemByIndex, ItemByGuid, _NewEnum.
class Collection final : public TestObject {
 public:
  explicit Collection(std::vector<Ref<IDispatch>> items)
      : TestObject(iface(0x06)), items_(std::move(items)) {
    property(L"Count", [this] { return v_i4(static_cast<LONG>(items_.size())); });
    const Run at = [this](WORD, Args& args, VARIANT* r) {
      const LONG i = as_i4(args.at(0));
      if (i < 0 || static_cast<std::size_t>(i) >= items_.size()) {
        return DISP_E_BADINDEX;
      }
      *r = v_object(items_[static_cast<std::size_t>(i)].p);
      return S_OK;
    };
    member(L"Item", at, DISPID_VALUE);
    member(L"ItemByIndex", at);
    member(L"ItemByGuid", [this](WORD, Args& args, VARIANT* r) {
      const std::wstring guid = as_text(args.at(0));
      for (auto& item : items_) {
        DISPID id;
        LPOLESTR name = const_cast<LPOLESTR>(L"GUID");
        VARIANT value;
        VariantInit(&value);
        DISPPARAMS none{};
        if (SUCCEEDED(item->GetIDsOfNames(IID_NULL, &name, 1, 0, &id)) &&
            SUCCEEDED(item->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr,
                                   nullptr)) &&
            as_text(value) == guid) {
          VariantClear(&value);
          *r = v_object(item.p);
          return S_OK;
        }
        VariantClear(&value);
      }
      return raise(L"no item with GUID " + guid);
    });
    member(
        L"_NewEnum",
        [this](WORD, Args&, VARIANT* r) {
          V_VT(r) = VT_UNKNOWN;
          V_UNKNOWN(r) = new Enum(items_);
          return S_OK;
        },
        DISPID_NEWENUM);
  }

 private:
  std::vector<Ref<IDispatch>> items_;
};

template <class T>
Ref<IDispatch> adopt(T* object) {
  return Ref<IDispatch>(object, false);
}

// What fires the events: the connection point and the message-only window
// they are fired from, shared by the objects that fire.
class Hub final : public IConnectionPoint {
 public:
  static constexpr UINT kRun = WM_APP + 11;
  static constexpr UINT kQuote = WM_APP + 12;

  explicit Hub(IConnectionPointContainer* owner) : owner_(owner) {
    ++g_live;
    static std::once_flag once;
    std::call_once(once, [] {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof wc;
      wc.lpfnWndProc = &Hub::window_proc;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = L"orbrix.test.cqgcel";
      RegisterClassExW(&wc);
    });
    window_ = CreateWindowExW(0, L"orbrix.test.cqgcel", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~Hub() {
    stop_feed();
    DestroyWindow(window_);
    for (auto& s : sinks_) {
      s.second->Release();
    }
    --g_live;
  }

  // Runs `fn` from the window, after the current call returns.
  void post(std::function<void()> fn) {
    queue_.push_back(std::move(fn));
    PostMessageW(window_, kRun, 0, 0);
  }
  // Fires an event to every sink; `args` left to right (not cleared here).
  void fire(DISPID id, std::vector<VARIANT> args) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    auto sinks = sinks_;
    for (auto& s : sinks) {
      s.second->AddRef();
    }
    for (auto& s : sinks) {
      s.second->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
      s.second->Release();
    }
    for (auto& a : args) {
      VariantClear(&a);
    }
  }
  // Sends `count` quote messages from a thread of the server's own, as a
  // market data feed would (sent, not posted: the client's pump must wake
  // for sent messages).
  void start_feed(std::function<void()> quote, int count) {
    stop_feed();
    quote_ = std::move(quote);
    stop_ = false;
    feed_ = std::thread([this, count] {
      for (int i = 0; i < count && !stop_; ++i) {
        DWORD_PTR r = 0;
        if (!SendMessageTimeoutW(window_, kQuote, 0, 0, SMTO_NORMAL, 2000, &r)) {
          ++g_send_timeouts;
        }
      }
    });
  }
  void stop_feed() {
    stop_ = true;
    if (feed_.joinable()) {
      feed_.join();
    }
  }

  // IConnectionPoint (lifetime tied to the owner)
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
      *out = static_cast<IConnectionPoint*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return owner_->Release(); }
  STDMETHODIMP GetConnectionInterface(IID* out) override {
    *out = kEventsIid;
    return S_OK;
  }
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** out) override {
    *out = owner_;
    owner_->AddRef();
    return S_OK;
  }
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override {
    IDispatch* d = nullptr;
    // As a connection point asks: for the event interface itself.
    if (FAILED(sink->QueryInterface(kEventsIid, reinterpret_cast<void**>(&d)))) {
      return CONNECT_E_CANNOTCONNECT;
    }
    sinks_.emplace_back(next_, d);
    *cookie = next_++;
    return S_OK;
  }
  STDMETHODIMP Unadvise(DWORD cookie) override {
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
      if (it->first == cookie) {
        it->second->Release();
        sinks_.erase(it);
        return S_OK;
      }
    }
    return CONNECT_E_NOCONNECTION;
  }
  STDMETHODIMP EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

 private:
  static LRESULT CALLBACK window_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    auto* hub = reinterpret_cast<Hub*>(GetWindowLongPtrW(w, GWLP_USERDATA));
    if (hub && m == kRun && !hub->queue_.empty()) {
      auto fn = std::move(hub->queue_.front());
      hub->queue_.pop_front();
      fn();
      return 0;
    }
    if (hub && m == kQuote && hub->quote_) {
      hub->quote_();
      return 0;
    }
    return DefWindowProcW(w, m, wp, lp);
  }

  IConnectionPointContainer* owner_;
  HWND window_;
  std::deque<std::function<void()>> queue_;
  std::function<void()> quote_;
  std::vector<std::pair<DWORD, IDispatch*>> sinks_;
  DWORD next_ = 1;
  std::thread feed_;
  std::atomic<bool> stop_{false};
};

class Quote final : public TestObject {
 public:
  Quote(LONG type, double price, bool valid) : TestObject(iface(0x05)) {
    property(L"IsValid", [valid] { return v_bool(valid); });
    property(L"Type", [type] { return v_i4(type); });
    property(L"Price", [price] { return v_r8(price); });
  }
};

class Instrument final : public TestObject {
 public:
  explicit Instrument(const std::wstring& symbol) : TestObject(iface(0x03)) {
    const std::wstring full = L"F.US." + symbol;
    property(L"FullName", [full] { return v_text(full); });
    settable(L"DataSubscriptionLevel", v_i4(0));
    quotes_ = adopt(new Collection(
        {adopt(new Quote(qtBid, 4500.25, true)), adopt(new Quote(qtAsk, 4500.5, true)),
         adopt(new Quote(qtAsk, 1.0, false)), adopt(new Quote(qtTrade, 4500.5, true))}));
  }
  ~Instrument() { clear_values(); }
  IDispatch* quotes() const { return quotes_.p; }

 private:
  Ref<IDispatch> quotes_;
};

class Order final : public TestObject {
 public:
  Order(std::weak_ptr<Hub*> hub, double quantity, double price)
      : TestObject(iface(0x0A)), hub_(std::move(hub)), quantity_(quantity), price_(price) {
    settable(L"Manual", v_i4(1));
    property(L"GUID", [] { return v_text(L"ORD-1"); });
    property(L"Properties", [this] { return v_object(adopt(new Properties(*this)).p); });
    member(L"Place", [this](WORD, Args&, VARIANT*) {
      with_hub([this](Hub& hub) {
        hub.post([this, self = Ref<IDispatch>(this)] { changed(ctAdded, nullptr); });
        hub.post([this, self = Ref<IDispatch>(this)] {
          status_ = osInOrderBook;
          changed(ctChanged, nullptr);
        });
        hub.post([this, self = Ref<IDispatch>(this)] {
          status_ = osFilled;
          filled_ = quantity_;
          const Ref<IDispatch> fill =
              adopt(new Fill(this, quantity_, price_ > 0 ? price_ : 4500.5));
          changed(ctChanged, fill.p);
        });
      });
      return S_OK;
    });
    member(L"Cancel", [this](WORD, Args&, VARIANT*) {
      with_hub([this](Hub& hub) {
        hub.post([this, self = Ref<IDispatch>(this)] {
          status_ = osCanceled;
          changed(ctChanged, nullptr);
        });
      });
      return S_OK;
    });
  }
  ~Order() { clear_values(); }

 private:
  class Property final : public TestObject {
   public:
    explicit Property(VARIANT v) : TestObject(iface(0x0C)) { settable(L"Value", v); }
    ~Property() { clear_values(); }
  };
  class Properties final : public TestObject {
   public:
    explicit Properties(const Order& o) : TestObject(iface(0x0B)) {
      const LONG status = o.status_;
      const double filled = o.filled_, price = o.price_ > 0 ? o.price_ : 4500.5;
      member(
          L"Item",
          [=](WORD, Args& args, VARIANT* r) {
            VARIANT v;
            switch (as_i4(args.at(0))) {
              case opGWStatus:
                v = v_i4(status);
                break;
              case opGUID:
                v = v_text(L"ORD-1");
                break;
              case opEventServerTimestamp:
                v = v_date(kFillTime);
                break;
              case opAverageFillPrice:
                v = v_r8(filled > 0 ? price : 0.0);
                break;
              case opFilledQuantity:
                v = v_r8(filled);
                break;
              default:
                return DISP_E_BADINDEX;
            }
            *r = v_object(adopt(new Property(v)).p);
            return S_OK;
          },
          DISPID_VALUE);
    }
  };
  class Fill final : public TestObject {
   public:
    Fill(IDispatch* order, double quantity, double price) : TestObject(iface(0x0D)), order_(order) {
      property(L"Status", [] { return v_i4(fsNormal); });
      property(L"Id", [] { return v_text(L"FILL-1"); });
      property(L"Order", [this] { return v_object(order_.p); });
      property(L"Timestamp", [] { return v_date(kFillTime); });
      property(L"Price", [price] { return v_r8(price); });
      property(L"Quantity", [quantity] { return v_r8(quantity); });
    }

   private:
    Ref<IDispatch> order_;
  };

  template <class F>
  void with_hub(F&& f) {
    if (auto hub = hub_.lock()) {
      f(**hub);
    }
  }
  void changed(LONG type, IDispatch* fill) {
    with_hub([&](Hub& hub) {
      hub.fire(evOrderChanged,
               {v_i4(type), v_object(this), v_null(), fill ? v_object(fill) : v_null(), v_null()});
    });
  }

  std::weak_ptr<Hub*> hub_;
  double quantity_, price_;
  LONG status_ = osNotSent;
  double filled_ = 0;
};

class Account final : public TestObject {
 public:
  Account() : TestObject(iface(0x07)) {
    property(L"GWAccountID", [] { return v_i4(7001); });
    property(L"GWAccountName", [] { return v_text(L"TEST-7001"); });
    settable(L"AutoSubscribeInstruments", v_bool(false));
    settable(L"PositionSubcriptionLevel", v_i4(0));
    property(L"Summary", [] { return v_object(adopt(new Summary).p); });
    property(L"Positions", [] { return v_object(adopt(new Collection({adopt(new Position)})).p); });
  }
  ~Account() { clear_values(); }

 private:
  class Summary final : public TestObject {
   public:
    Summary() : TestObject(iface(0x08)) {
      for (auto [name, value] : {std::pair{L"Balance", 100000.0},
                                 {L"Collaterals", 2500.0},
                                 {L"NLV", 101250.0},
                                 {L"MaintenanceMargin", 5000.0},
                                 {L"ProfitLoss", 750.0},
                                 {L"UPL", 500.0}}) {
        member(name, [value](WORD, Args& args, VARIANT* r) {
          (void)as_i4(args.at(0));  // the currency index
          *r = v_r8(value);
          return S_OK;
        });
      }
    }
  };
  class Position final : public TestObject {
   public:
    Position() : TestObject(iface(0x09)) {
      property(L"Quantity", [] { return v_r8(2); });
      property(L"InstrumentName", [] { return v_text(L"F.US.EPZ23"); });
      property(L"Side", [] { return v_i4(osdBuy); });
      property(L"AveragePrice", [] { return v_r8(4490.5); });
      property(L"OTE", [] { return v_r8(20); });
      property(L"ProfitLoss", [] { return v_r8(10); });
    }
  };
};

class Config final : public TestObject {
 public:
  Config() : TestObject(iface(0x02)) {
    for (const wchar_t* name :
         {L"CollectionsThrowException", L"NewInstrumentChangeMode", L"ReadyStatusCheck",
          L"TimeZoneCode", L"IncludeOrderTransactions", L"UseOrderSide", L"DefaultCurrency"}) {
      settable(name, v_null());
    }
  }
  ~Config() { clear_values(); }
};

class Cel final : public TestObject, public IConnectionPointContainer {
 public:
  Cel() : TestObject(iface(0x01)), hub_(this), hub_ref_(std::make_shared<Hub*>(&hub_)) {
    config_ = adopt(new Config);
    account_ = adopt(new Account);
    property(L"APIConfiguration", [this] { return v_object(config_.p); });
    property(L"ThreadId", [] { return v_i4(static_cast<LONG>(GetCurrentThreadId())); });
    member(L"Startup", [this](WORD, Args&, VARIANT*) {
      hub_.post([this] { hub_.fire(evCELStarted, {}); });
      return S_OK;
    });
    member(L"Shutdown", [this](WORD, Args&, VARIANT*) {
      hub_.stop_feed();
      return S_OK;
    });
    member(L"GWLogon", [this](WORD, Args& args, VARIANT*) {
      if (args.size() != 2) {
        return DISP_E_BADPARAMCOUNT;
      }
      hub_.post([this] { connection(csConnectionUp); });
      return S_OK;
    });
    member(L"GWLogoff", [this](WORD, Args&, VARIANT*) {
      hub_.post([this] { connection(csConnectionDown); });
      return S_OK;
    });
    member(L"NewInstrument", [this](WORD, Args& args, VARIANT*) {
      const std::wstring symbol = as_text(args.at(0));
      auto* instrument = new Instrument(symbol);
      instruments_.push_back(adopt(instrument));
      const Ref<IDispatch> held(instrument);
      hub_.post([this, symbol, held, instrument] {
        hub_.fire(evInstrumentResolved, {v_text(symbol), v_object(held.p), v_null()});
        hub_.start_feed([this, held, instrument] { quote(held.p, instrument->quotes()); }, 3);
      });
      return S_OK;
    });
    member(L"Instruments", [this](WORD, Args&, VARIANT* r) {
      *r = v_object(adopt(new Collection(instruments_)).p);
      return S_OK;
    });
    member(L"AccountSubscriptionLevel", [this](WORD flags, Args& args, VARIANT* r) {
      if (flags & DISPATCH_PROPERTYPUT) {
        level_ = as_i4(args.at(0));
        if (level_ == aslAccountUpdatesAndOrders) {
          hub_.post([this] {
            hub_.fire(evAccountChanged, {v_i4(actAccountsReloaded), v_null(), v_null()});
          });
        }
        return S_OK;
      }
      *r = v_i4(level_);
      return S_OK;
    });
    member(L"Accounts", [this](WORD, Args&, VARIANT* r) {
      *r = v_object(adopt(new Collection({account_})).p);
      return S_OK;
    });
    member(L"CreateOrder", [this](WORD, Args& args, VARIANT* r) {
      if (args.size() < 5) {
        return DISP_E_BADPARAMCOUNT;
      }
      const double price = args.size() > 5 ? as_r8(args[5]) : 0.0;
      auto order = adopt(new Order(hub_ref_, as_r8(args[3]), price));
      orders_.push_back(order);
      *r = v_object(order.p);
      return S_OK;
    });
    member(L"Orders", [this](WORD, Args&, VARIANT* r) {
      *r = v_object(adopt(new Collection(orders_)).p);
      return S_OK;
    });
    // For the tests of the automation layer itself.
    member(L"Echo", [](WORD, Args& args, VARIANT* r) { return VariantCopy(r, &args.at(0)); });
    member(L"Raise", [this](WORD, Args& args, VARIANT*) { return raise(as_text(args.at(0))); });
    member(L"FireQuotes", [this](WORD, Args& args, VARIANT*) {
      const LONG count = as_i4(args.at(0));
      if (instruments_.empty()) {
        return raise(L"no instrument");
      }
      const Ref<IDispatch> held = instruments_.front();
      IDispatch* quotes = static_cast<Instrument*>(held.p)->quotes();
      for (LONG i = 0; i < count; ++i) {
        hub_.post([this, held, quotes] { quote(held.p, quotes); });
      }
      return S_OK;
    });
  }
  ~Cel() { hub_ref_.reset(); }

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    return TestObject::QueryInterface(riid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return TestObject::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return TestObject::Release(); }
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** out) override {
    if (riid != kEventsIid) {
      *out = nullptr;
      return CONNECT_E_NOCONNECTION;
    }
    *out = &hub_;
    hub_.AddRef();
    return S_OK;
  }

 protected:
  HRESULT query_more(REFIID riid, void** out) override {
    if (riid == IID_IConnectionPointContainer) {
      *out = static_cast<IConnectionPointContainer*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }

 private:
  void connection(LONG status) {
    // By reference, as some servers pass event arguments.
    status_ = status;
    VARIANT byref;
    VariantInit(&byref);
    V_VT(&byref) = VT_BYREF | VT_I4;
    V_I4REF(&byref) = &status_;
    hub_.fire(evGWConnectionStatusChanged, {byref});
  }
  void quote(IDispatch* instrument, IDispatch* quotes) {
    hub_.fire(evInstrumentChanged, {v_object(instrument), v_object(quotes), v_null()});
  }

  Hub hub_;
  std::shared_ptr<Hub*> hub_ref_;  // what orders fire through, while the server lives
  Ref<IDispatch> config_, account_;
  std::vector<Ref<IDispatch>> instruments_, orders_;
  LONG level_ = 0;
  LONG status_ = 0;
};

class Factory final : public Counted<IClassFactory> {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    return query(riid, IID_IClassFactory, out);
  }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    *out = nullptr;
    if (outer) {
      return CLASS_E_NOAGGREGATION;
    }
    auto* cel = new Cel;
    const HRESULT hr = cel->QueryInterface(riid, out);
    cel->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

void write_prog_id() {
  HKEY key;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, kProgIdKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    throw std::runtime_error("cannot write the ProgID key");
  }
  RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(kClsidText),
                 sizeof kClsidText);
  RegCloseKey(key);
}

}  // namespace

void register_server_keys() {
  static std::once_flag once;
  std::call_once(once, [] {
    write_prog_id();
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    ITypeLib* tl = nullptr;
    if (FAILED(LoadTypeLibEx(path, REGKIND_REGISTER, &tl))) {
      throw std::runtime_error("cannot register the test server's type library");
    }
    tl->Release();
  });
}

void remove_prog_id() {
  RegDeleteKeyW(HKEY_CLASSES_ROOT, kProgIdKey);
  RegDeleteKeyW(HKEY_CLASSES_ROOT, L"CQG.CQGCEL.4");
}

void restore_prog_id() {
  write_prog_id();
}

std::shared_ptr<void> register_class_object() {
  auto* factory = new Factory;
  DWORD cookie = 0;
  const HRESULT hr =
      CoRegisterClassObject(kClsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
  factory->Release();
  if (FAILED(hr)) {
    throw std::runtime_error("CoRegisterClassObject failed");
  }
  return std::shared_ptr<void>(nullptr, [cookie](void*) { CoRevokeClassObject(cookie); });
}

long live_objects() {
  return g_live.load();
}

long send_timeouts() {
  return g_send_timeouts.load();
}

}  // namespace orbrix::wintest
