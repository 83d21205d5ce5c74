#pragma once

// Python objects the binding hands over as they are (a py::object) although
// their Python type is known: Typed<Name> is such an object, and pybind11
// writes Name::name for it in the signatures it makes, so help() and the
// type stubs generated from them say what it is instead of "object".
//
// Only the name changes. As an argument, a Typed<Name> accepts what
// Name::check accepts (anything, unless the name says otherwise), and the
// binding checks the value as it did when it took a py::object.

#include <pybind11/pybind11.h>

#include <utility>

namespace orbrix::python {

template <class Name>
class Typed : public pybind11::object {
 public:
  Typed() = default;
  // NOLINTNEXTLINE(google-explicit-constructor): an object of the type named
  Typed(pybind11::object o) noexcept : pybind11::object(std::move(o)) {}
  Typed(pybind11::handle h, borrowed_t) : pybind11::object(h, borrowed_t{}) {}
  Typed(pybind11::handle h, stolen_t) : pybind11::object(h, stolen_t{}) {}

  static bool check_(pybind11::handle h) { return h.ptr() != nullptr && Name::check(h); }
};

// Names whose check takes any object.
struct AnyObjectName {
  static bool check(pybind11::handle) { return true; }
};

// An instance of the bound class Record, or of a subclass (a security
// record as the Python class of its kind).
template <class Record>
struct InstanceName : AnyObjectName {
  static constexpr auto name = pybind11::detail::const_name<Record>();
};
template <class Record>
using ObjectOf = Typed<InstanceName<Record>>;

// An iterator over instances of Record.
template <class Record>
struct IteratorName : AnyObjectName {
  static constexpr auto name = pybind11::detail::const_name("Iterator[") +
                               pybind11::detail::const_name<Record>() +
                               pybind11::detail::const_name("]");
};
template <class Record>
using IteratorOf = Typed<IteratorName<Record>>;

// A callable taking any arguments; an argument must be callable.
struct CallableName {
  static constexpr auto name = pybind11::detail::const_name("Callable");
  static bool check(pybind11::handle h) { return PyCallable_Check(h.ptr()) != 0; }
};
using AnyCallable = Typed<CallableName>;

}  // namespace orbrix::python

namespace pybind11::detail {

template <class Name>
struct handle_type_name<orbrix::python::Typed<Name>> {
  static constexpr auto name = Name::name;
};

}  // namespace pybind11::detail
