#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "orbrix/automation/dispatch.hpp"
#include "orbrix/automation/names.hpp"

namespace orbrix::automation {

// The member table of one automation class: names (any letter case) to ids,
// and per id the property getter, property setter and method. Built once per
// class and shared by all its objects, so resolving a name costs one hash
// lookup and invoking by id none.
class ClassInfo {
 public:
  using Getter = std::function<Variant(Dispatch& self, Args args)>;
  using Setter = std::function<void(Dispatch& self, Args args, const Variant& value)>;
  using Method = std::function<Variant(Dispatch& self, Args args)>;

  explicit ClassInfo(std::string type_name) : type_name_(std::move(type_name)) {}

  // Adds a property; an empty setter makes it read-only. Returns its id.
  DispId add_property(std::string name, Getter get, Setter set = {});
  DispId add_method(std::string name, Method call);
  // Makes a member the default one, reached by id kDispIdValue (coll(i)).
  void set_default_member(std::string_view name);

  // Throws UnknownNameError.
  DispId find(std::string_view name) const;
  // Runs a member. A method call on a property reads it (Item(i) style); a
  // get on a method, a put on a read-only property, or an unknown id are
  // errors naming the member and the type.
  Variant invoke(Dispatch& self, DispId id, InvokeKind kind, Args args) const;

  std::string_view type_name() const noexcept { return type_name_; }
  const std::string& member_name(DispId id) const;
  // The member's name, "_Default" for the default member, "#<id>" for an
  // id the class does not have; never throws for an unknown id.
  std::string name_of(DispId id) const;

 private:
  struct Member {
    std::string name;
    Getter get;
    Setter set;
    Method call;
  };
  DispId add(Member member);
  const Member& member(DispId id) const;
  Variant run(Dispatch& self, const Member& m, InvokeKind kind, Args args) const;

  std::string type_name_;
  std::vector<Member> members_;  // id i+1 at index i
  std::unordered_map<std::string, DispId, FoldedHash, FoldedEqual> ids_;
  DispId default_member_ = 0;
  DispId new_enum_member_ = 0;
};

// Base for automation classes written in C++. T provides
// `static const ClassInfo& class_info();` (a function-local static built
// once), and its members receive `Dispatch& self`, which they downcast with
// self_as<T>.
template <class T>
class AutomationObject : public Dispatch {
 public:
  DispId get_id_of_name(std::string_view name) override { return T::class_info().find(name); }
  Variant invoke(DispId id, InvokeKind kind, Args args) override {
    return T::class_info().invoke(*this, id, kind, args);
  }
  std::string_view type_name() const noexcept override { return T::class_info().type_name(); }
  std::string name_of(DispId id) const override { return T::class_info().name_of(id); }
  bool resolves_names_anywhere() const noexcept override { return true; }

 protected:
  AutomationObject() = default;
  explicit AutomationObject(FreeThreaded tag) : Dispatch(tag) {}
};

template <class T>
T& self_as(Dispatch& self) {
  return static_cast<T&>(self);
}

// Throws std::invalid_argument unless `args` holds exactly `count` values,
// naming the member: "CQGCEL.Startup takes 0 arguments (2 given)".
void expect_args(Args args, std::size_t count, std::string_view type_name, std::string_view member);

}  // namespace orbrix::automation
