#pragma once

// Holders whose last release happens without the GIL. Destroying an API host
// or a link joins the worker, whose hooks take the GIL: holding it there
// would deadlock.

#include <pybind11/pybind11.h>

#include <memory>
#include <utility>

namespace orbrix::python {

// The deleter of released_without_gil's pointers: it owns the real owner
// and `also`. Named, so std::get_deleter finds what a holder keeps.
template <class T, class Also>
struct ReleaseWithoutGil {
  std::shared_ptr<T> owner;
  Also also;

  void operator()(T*) {
    const auto drop = [this] {
      owner.reset();
      also = Also{};
    };
    if (PyGILState_Check()) {
      pybind11::gil_scoped_release released;
      drop();
    } else {
      drop();
    }
  }
};

// A pointer to what `owner` holds, whose last release drops `owner` (and
// `also`, kept alive as long) with the GIL released when the releasing
// thread held it.
template <class T, class Also = std::nullptr_t>
std::shared_ptr<T> released_without_gil(std::shared_ptr<T> owner, Also also = nullptr) {
  T* const raw = owner.get();
  return std::shared_ptr<T>(raw, ReleaseWithoutGil<T, Also>{std::move(owner), std::move(also)});
}

}  // namespace orbrix::python
