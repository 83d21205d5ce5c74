#pragma once

#include <stdexcept>
#include <string>

namespace orbrix::automation {

// A value of the wrong kind: the text names what was expected and what came.
class TypeError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// A member name that the object does not have (DISP_E_UNKNOWNNAME), or a
// constant that a type library does not define.
class UnknownNameError : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

// The object's apartment has shut down; the call never reached it
// (RPC_E_DISCONNECTED).
class DisconnectedError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A call into another apartment was not taken up within the apartment's call
// time-out (RPC_E_TIMEOUT): its thread is busy or blocked. The call did not
// run and never will.
class CallTimeoutError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A marshalling stream was used twice, or an interface could not be marshalled.
class MarshalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// No class is registered under a ProgID (CO_E_CLASSSTRING).
class ClassNotRegisteredError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The thread has no apartment, or it has one where none is allowed
// (CO_E_NOTINITIALIZED / RPC_E_CHANGED_MODE).
class ApartmentError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace orbrix::automation
