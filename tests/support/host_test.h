// A test with the reference host's allocator and tracer on a service locator;
// when it ends, nothing the module made may still be alive or allocated.
#pragma once

#include <gtest/gtest.h>

#include "host/capturing_tracer.h"
#include "host/counting_allocator.h"
#include "host/service_locator.h"
#include "orv/rtl/module_count.h"

namespace dnt::testing {

class HostTest : public ::testing::Test {
 protected:
  HostTest() {
    locator->Register(allocator);
    locator->Register(tracer);
  }
  /// Fixtures that hold module objects release them first, then call this.
  void TearDown() override {
    EXPECT_EQ(orv::module::LiveObjects(), 0u);
    EXPECT_EQ(allocator->LiveBlocks(), 0);
  }

  orv::ComPtr<host::ServiceLocator> locator = host::MakeHostObject<host::ServiceLocator>();
  orv::ComPtr<host::CountingAllocator> allocator = host::MakeHostObject<host::CountingAllocator>();
  orv::ComPtr<host::CapturingTracer> tracer = host::MakeHostObject<host::CapturingTracer>();
};

}  // namespace dnt::testing
