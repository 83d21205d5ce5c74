#include "orbrix/core/base_gateway.hpp"

namespace orbrix {

// Defined here so the class's vtable and type information live in this
// library, once.
BaseGateway::~BaseGateway() = default;

}  // namespace orbrix
