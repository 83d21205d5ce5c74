#pragma once

#include <memory>
#include <string_view>
#include <thread>

#include "orbrix/common/thread_annotations.hpp"

namespace orbrix::automation {

class Apartment;

// State that only its apartment's thread may touch, checked (a sequence
// checker). Members are declared GUARDED_BY(checker); code reaches them
// after checker.assert_current(), which clang's thread-safety analysis reads
// as holding the apartment, and which at run time raises std::logic_error
// naming the owner when called on any other thread. The check compares the
// calling thread's apartment with the bound one: a thread-local read.
//
// Bound at construction to the calling thread's apartment; a thread with no
// apartment binds the checker to that thread instead.
class CAPABILITY("apartment") ApartmentChecker {
 public:
  // `owner` names the state in the error ("BrokerLink's worker state").
  explicit ApartmentChecker(std::string_view owner);
  ApartmentChecker(const ApartmentChecker&) = delete;
  ApartmentChecker& operator=(const ApartmentChecker&) = delete;

  // Returns only on the owning thread.
  void assert_current() const ASSERT_CAPABILITY(this);
  // The same test without raising; any thread.
  bool is_current() const noexcept;

 private:
  std::shared_ptr<Apartment> apartment_;
  std::thread::id thread_;
  std::string_view owner_;
};

}  // namespace orbrix::automation
