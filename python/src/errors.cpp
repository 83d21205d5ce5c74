#include "errors.hpp"

#include <stdexcept>
#include <string>

#include "bindings.hpp"
#include "orbrix/automation/errors.hpp"

namespace orbrix::python {

namespace {

// Kept for the life of the process: the translator refers to it.
PyObject* disconnected_error = nullptr;

std::string text_of(const py::error_already_set& e) {
  return py::str(e.value()).cast<std::string>();
}

}  // namespace

void rethrow_as_cpp(const py::error_already_set& e) {
  if (disconnected_error && e.matches(disconnected_error)) {
    throw automation::DisconnectedError(text_of(e));
  }
  if (e.matches(PyExc_KeyError)) {
    throw std::out_of_range(text_of(e));
  }
  if (e.matches(PyExc_TypeError)) {
    throw automation::TypeError(text_of(e));
  }
  if (e.matches(PyExc_ValueError)) {
    throw std::invalid_argument(text_of(e));
  }
  const auto type = py::handle(e.type()).attr("__name__").cast<std::string>();
  throw std::runtime_error(type + ": " + text_of(e));
}

void bind_errors(py::module_& m) {
  auto cls =
      py::exception<automation::DisconnectedError>(m, "DisconnectedError", PyExc_ConnectionError);
  cls.attr("__doc__") =
      "The API host is shutting down or its apartment is gone: the operation never "
      "reached the vendor, or was released while it waited.";
  disconnected_error = cls.ptr();
  Py_INCREF(disconnected_error);

  // Most derived first: TypeError is an invalid_argument, and
  // invalid_argument and out_of_range are logic_errors.
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) {
        std::rethrow_exception(p);
      }
    } catch (const automation::DisconnectedError& e) {
      PyErr_SetString(disconnected_error, e.what());
    } catch (const automation::TypeError& e) {
      PyErr_SetString(PyExc_TypeError, e.what());
    } catch (const std::invalid_argument& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const std::out_of_range& e) {
      PyErr_SetString(PyExc_KeyError, e.what());
    } catch (const std::logic_error& e) {
      PyErr_SetString(PyExc_RuntimeError, e.what());
    }
  });
}

}  // namespace orbrix::python
