#include "orbrix/automation/class_info.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

#include "orbrix/automation/errors.hpp"

namespace orbrix::automation {
namespace {

constexpr char fold(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

}  // namespace

std::string fold_case(std::string_view name) {
  std::string s(name);
  std::transform(s.begin(), s.end(), s.begin(), fold);
  return s;
}

bool equal_folded(std::string_view a, std::string_view b) noexcept {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return fold(x) == fold(y); });
}

std::size_t FoldedHash::operator()(std::string_view s) const noexcept {
  std::size_t h = 14695981039346656037ull;  // FNV-1a over the folded bytes
  for (char c : s) {
    h = (h ^ static_cast<unsigned char>(fold(c))) * 1099511628211ull;
  }
  return h;
}

void expect_args(Args args, std::size_t count, std::string_view type_name,
                 std::string_view member) {
  if (args.size() != count) {
    throw std::invalid_argument(fmt::format("{}.{} takes {} argument{} ({} given)", type_name,
                                            member, count, count == 1 ? "" : "s", args.size()));
  }
}

DispId ClassInfo::add(Member m) {
  const auto id = static_cast<DispId>(members_.size() + 1);
  if (!ids_.emplace(m.name, id).second) {
    throw std::logic_error(fmt::format("{}: member {} defined twice", type_name_, m.name));
  }
  if (equal_folded(m.name, "_NewEnum")) {
    new_enum_member_ = id;
  }
  members_.push_back(std::move(m));
  return id;
}

DispId ClassInfo::add_property(std::string name, Getter get, Setter set) {
  return add(Member{std::move(name), std::move(get), std::move(set), {}});
}

DispId ClassInfo::add_method(std::string name, Method call) {
  return add(Member{std::move(name), {}, {}, std::move(call)});
}

void ClassInfo::set_default_member(std::string_view name) {
  default_member_ = find(name);
}

DispId ClassInfo::find(std::string_view name) const {
  auto it = ids_.find(name);
  if (it == ids_.end()) {
    throw UnknownNameError(fmt::format("{} has no member named '{}'", type_name_, name));
  }
  return it->second;
}

const ClassInfo::Member& ClassInfo::member(DispId id) const {
  if (id < 1 || static_cast<std::size_t>(id) > members_.size()) {
    throw UnknownNameError(fmt::format("{} has no member with id {}", type_name_, id));
  }
  return members_[static_cast<std::size_t>(id - 1)];
}

const std::string& ClassInfo::member_name(DispId id) const {
  return member(id).name;
}

std::string ClassInfo::name_of(DispId id) const {
  if (id == kDispIdValue) {
    return default_member_ != 0 ? members_[static_cast<std::size_t>(default_member_ - 1)].name
                                : "_Default";
  }
  if (id == kDispIdNewEnum) {
    return "_NewEnum";
  }
  if (id < 1 || static_cast<std::size_t>(id) > members_.size()) {
    return fmt::format("#{}", id);
  }
  return members_[static_cast<std::size_t>(id - 1)].name;
}

Variant ClassInfo::invoke(Dispatch& self, DispId id, InvokeKind kind, Args args) const {
  if (id == kDispIdValue) {
    if (default_member_ == 0) {
      throw UnknownNameError(fmt::format("{} has no default member", type_name_));
    }
    id = default_member_;
  } else if (id == kDispIdNewEnum) {
    if (new_enum_member_ == 0) {
      throw UnknownNameError(fmt::format("{} is not a collection", type_name_));
    }
    id = new_enum_member_;
    kind = InvokeKind::Method;
  }
  const Member& m = member(id);
  try {
    return run(self, m, kind, args);
  } catch (const TypeError& e) {
    // A value of the wrong kind: say which member refused it.
    throw TypeError(fmt::format("{}.{}: {}", type_name_, m.name, e.what()));
  }
}

Variant ClassInfo::run(Dispatch& self, const Member& m, InvokeKind kind, Args args) const {
  switch (kind) {
    case InvokeKind::Method:
      if (m.call) {
        return m.call(self, args);
      }
      if (m.get) {
        return m.get(self, args);  // Item(i), Balance(0): a property read with call syntax
      }
      break;
    case InvokeKind::PropertyGet:
      if (m.get) {
        return m.get(self, args);
      }
      throw std::invalid_argument(
          fmt::format("{}.{} is a method, not a property", type_name_, m.name));
    case InvokeKind::PropertyPut:
      if (!m.set) {
        throw std::invalid_argument(
            fmt::format("{}.{} cannot be assigned (read-only)", type_name_, m.name));
      }
      if (args.empty()) {
        throw std::invalid_argument(
            fmt::format("{}.{}: a property put needs a value", type_name_, m.name));
      }
      m.set(self, args.first(args.size() - 1), args.back());
      return {};
  }
  throw std::invalid_argument(fmt::format("{}.{} cannot be called", type_name_, m.name));
}

}  // namespace orbrix::automation
