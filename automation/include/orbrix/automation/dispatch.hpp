#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "orbrix/automation/variant.hpp"

namespace orbrix::automation {

class Apartment;

// Member identifier, resolved once from a name and reused for every call.
using DispId = std::int32_t;
inline constexpr DispId kDispIdValue = 0;     // the default member, e.g. coll(i)
inline constexpr DispId kDispIdNewEnum = -4;  // the member that enumerates a collection

enum class InvokeKind : std::uint8_t { Method, PropertyGet, PropertyPut };

using Args = std::span<const Variant>;

// Connection cookie returned by advise.
using Cookie = std::uint32_t;

// A late-bound object, shaped after IDispatch: resolve a name to an id once,
// then invoke by id as a method, a property get (with arguments for
// parameterised properties) or a property put (the value is the last
// argument). Names are matched without regard to letter case.
//
// An object belongs to the apartment of the thread that created it; objects
// created on a thread without an apartment, and proxies, may be called from
// any thread.
class Dispatch : public std::enable_shared_from_this<Dispatch> {
 public:
  Dispatch(const Dispatch&) = delete;
  Dispatch& operator=(const Dispatch&) = delete;
  virtual ~Dispatch();

  // Resolves a member name. Throws UnknownNameError.
  virtual DispId get_id_of_name(std::string_view name) = 0;
  // Calls a member by id. Throws what the member throws.
  virtual Variant invoke(DispId id, InvokeKind kind, Args args) = 0;
  // Resolves `name` and calls it: what a call by name does. A proxy does
  // both in one round trip into the object's apartment when the name is new
  // to it. Throws what get_id_of_name and invoke throw.
  virtual Variant invoke_by_name(std::string_view name, InvokeKind kind, Args args);
  // The object's type name, for messages ("CQGCEL").
  virtual std::string_view type_name() const noexcept = 0;
  // The name of a member id, for messages ("NewInstrument"); "#<id>" when
  // the object cannot tell.
  virtual std::string name_of(DispId id) const;

  // Connects an event sink to the object's outgoing interface; events then
  // reach the sink's invoke. The default refuses: the object has no events.
  virtual Cookie advise(const DispatchPtr& sink);
  // Disconnects a sink; an unknown cookie is ignored.
  virtual void unadvise(Cookie cookie);

  // The object's identity (COM's IUnknown rule): two references to one
  // object give the same value, whatever wraps them (a proxy, a new wrapper
  // around the same COM interface). Any thread.
  virtual const void* identity() const noexcept { return this; }

  // True when get_id_of_name may run on any thread (an immutable member
  // table); proxies then resolve names without a call into the apartment.
  virtual bool resolves_names_anywhere() const noexcept { return false; }

  // The apartment the object lives in, or null for a free-threaded object.
  const std::shared_ptr<Apartment>& apartment() const noexcept { return apartment_; }

 protected:
  struct FreeThreaded {};
  // Binds the object to the calling thread's apartment (if it has one).
  Dispatch();
  // An object that any thread may call directly.
  explicit Dispatch(FreeThreaded) noexcept;

 private:
  std::shared_ptr<Apartment> apartment_;
};

}  // namespace orbrix::automation
