// COM as the program sets it up at start: one single-threaded apartment on the
// thread that runs the tests.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>

namespace {

class OleEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr))); }
    void TearDown() override { OleUninitialize(); }
};

const ::testing::Environment* const kOle = ::testing::AddGlobalTestEnvironment(new OleEnvironment);

}  // namespace
