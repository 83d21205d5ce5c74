#pragma once

// Holders whose last release happens without the GIL. Destroying an API host
// or a link joins the worker, whose hooks take the GIL: holding it there
// would deadlock.

#include <pybind11/pybind11.h>

#include <memory>
#include <utility>

namespace orbrix::python {

// A pointer to what `owner` holds, whose last release drops `owner` (and
// `also`, kept alive as long) with the GIL released when the releasing
// thread held it.
template <class T, class Also = std::nullptr_t>
std::shared_ptr<T> released_without_gil(std::shared_ptr<T> owner, Also also = nullptr) {
  T* const raw = owner.get();
  return std::shared_ptr<T>(raw, [owner = std::move(owner), also = std::move(also)](T*) mutable {
    const auto drop = [&] {
      owner.reset();
      also = Also{};
    };
    if (PyGILState_Check()) {
      pybind11::gil_scoped_release released;
      drop();
    } else {
      drop();
    }
  });
}

}  // namespace orbrix::python
