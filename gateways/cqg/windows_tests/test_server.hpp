#pragma once

// The tests' stand-in for the vendor's CQGCEL COM server (test code, not
// product): real COM objects behind IDispatch, a connection point for
// _ICQGCELEvents and a message-only window from which it fires its events,
// so they reach the client through its apartment's pump.

#include <memory>

namespace orbrix::wintest {

// Writes HKCR\CQG.CQGCEL.4\CLSID and registers the type library embedded in
// this program (as the vendor's installation registers its own). Once per
// process; throws std::runtime_error when the registry refuses.
void register_server_keys();
// Removes the ProgID key, and puts it back.
void remove_prog_id();
void restore_prog_id();

// Registers the class object in the calling thread's apartment (COM finds
// an in-process class object only in the apartment that registered it);
// revoked when the result is released, which must be on the same thread.
std::shared_ptr<void> register_class_object();

// Objects of the server alive now (every object, collection, enumerator and
// connection point), and the events its feed thread could not deliver.
long live_objects();
long send_timeouts();

}  // namespace orbrix::wintest
