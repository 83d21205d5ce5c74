#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace orbrix {

// A move-only `void()` callable with inline storage: a closure of up to
// kInlineSize bytes (six pointers) is kept inside the task, so posting it into
// an apartment's queue or a timer wheel does not allocate. A larger closure is moved to the
// heap once, when the task is made.
class Task {
 public:
  static constexpr std::size_t kInlineSize = 6 * sizeof(void*);

  Task() noexcept = default;
  Task(std::nullptr_t) noexcept {}

  template <class F>
  requires(!std::is_same_v<std::remove_cvref_t<F>, Task> &&
           std::is_invocable_r_v<void, std::remove_cvref_t<F>&>)
      Task(F&& f)  // NOLINT(google-explicit-constructor): a task is made from its closure
  {
    using Fn = std::remove_cvref_t<F>;
    if constexpr (fits_inline<Fn>()) {
      ::new (static_cast<void*>(storage_)) Fn(std::forward<F>(f));
      ops_ = &kInlineOps<Fn>;
    } else {
      using Boxed = std::unique_ptr<Fn>;
      ::new (static_cast<void*>(storage_)) Boxed(std::make_unique<Fn>(std::forward<F>(f)));
      ops_ = &kBoxedOps<Fn>;
    }
  }

  Task(Task&& other) noexcept : ops_(other.ops_) {
    if (ops_) {
      ops_->move(other.storage_, storage_);  // leaves the source destroyed
      other.ops_ = nullptr;
    }
  }
  Task& operator=(Task&& other) noexcept {
    if (this != &other) {
      reset();
      if (other.ops_) {
        other.ops_->move(other.storage_, storage_);
        ops_ = std::exchange(other.ops_, nullptr);
      }
    }
    return *this;
  }
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;
  ~Task() { reset(); }

  explicit operator bool() const noexcept { return ops_ != nullptr; }
  // Runs the closure; an empty task does nothing.
  void operator()() {
    if (ops_) {
      ops_->call(storage_);
    }
  }
  // Destroys the closure (and what it holds) now.
  void reset() noexcept {
    if (ops_) {
      ops_->destroy(storage_);
      ops_ = nullptr;
    }
  }

 private:
  struct Ops {
    void (*call)(void* storage);
    // Move-constructs into `to` and destroys the source.
    void (*move)(void* from, void* to) noexcept;
    void (*destroy)(void* storage) noexcept;
  };

  template <class Fn>
  static constexpr bool fits_inline() {
    return sizeof(Fn) <= kInlineSize && alignof(Fn) <= alignof(std::max_align_t) &&
           std::is_nothrow_move_constructible_v<Fn>;
  }

  template <class Fn>
  static constexpr Ops kInlineOps{
      [](void* s) { (*std::launder(static_cast<Fn*>(s)))(); },
      [](void* from, void* to) noexcept {
        Fn* f = std::launder(static_cast<Fn*>(from));
        ::new (to) Fn(std::move(*f));
        f->~Fn();
      },
      [](void* s) noexcept { std::launder(static_cast<Fn*>(s))->~Fn(); }};

  template <class Fn>
  static constexpr Ops kBoxedOps{
      [](void* s) { (**std::launder(static_cast<std::unique_ptr<Fn>*>(s)))(); },
      [](void* from, void* to) noexcept {
        auto* f = std::launder(static_cast<std::unique_ptr<Fn>*>(from));
        ::new (to) std::unique_ptr<Fn>(std::move(*f));
        f->~unique_ptr();
      },
      [](void* s) noexcept { std::launder(static_cast<std::unique_ptr<Fn>*>(s))->~unique_ptr(); }};

  alignas(std::max_align_t) unsigned char storage_[kInlineSize];
  const Ops* ops_ = nullptr;
};

}  // namespace orbrix
