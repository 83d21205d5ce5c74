// Registers the test server's ProgID and type library before any test, as
// the vendor's installation does on a trading desk.

#include <gtest/gtest.h>

#include "test_server.hpp"

namespace orbrix::wintest {
namespace {

class ServerKeys final : public ::testing::Environment {
 public:
  void SetUp() override { register_server_keys(); }
};

[[maybe_unused]] ::testing::Environment* const keys =
    ::testing::AddGlobalTestEnvironment(new ServerKeys);

}  // namespace
}  // namespace orbrix::wintest
