#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "platform/macos/Libdispatch.h"
#include "platform/macos/MacErrors.h"
#include "support/DispatchContract.h"

namespace {

struct LibdispatchTraits {
  static std::unique_ptr<platform::Dispatch> make() { return platform::macos::makeLibdispatch(); }
  // A signal source sees what is sent to the process.
  static void interrupt(pthread_t, int signalNumber) { kill(getpid(), signalNumber); }
};

}  // namespace

namespace test_support {
INSTANTIATE_TYPED_TEST_SUITE_P(Libdispatch, DispatchContract, ::testing::Types<LibdispatchTraits>);
}  // namespace test_support

namespace {

struct ForeignQueue : platform::Queue {
  void post(platform::Work) override {}
};

TEST(Libdispatch, RefusesAQueueItDidNotMake) {
  auto dispatch = platform::macos::makeLibdispatch();
  try {
    dispatch->makeRepeatingTimer(std::make_shared<ForeignQueue>());
    FAIL() << "a foreign queue was accepted";
  } catch (const platform::PlatformError& error) {
    EXPECT_EQ(error.domain(), platform::kToolErrorDomain);
    EXPECT_EQ(error.code(), 4);
  }
}

}  // namespace
