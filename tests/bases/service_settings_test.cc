#include <gtest/gtest.h>

#include "do_not_track/dnt_engine/service_settings_validation.h"
#include "host/capturing_tracer.h"
#include "host/counting_allocator.h"
#include "orv/rtl/error_handling/exceptions.h"

namespace dnt {
namespace {

std::u16string ValidationError(const ServiceSettings& settings) {
  try {
    CopyValidatedServiceSettings(settings);
  } catch (const orv::InvalidArgumentException& e) {
    EXPECT_EQ(orv::GetResultCode(e), orv::result::InvalidArgument);
    return e.WideMessage();
  }
  return u"(valid)";
}

TEST(ServiceSettingsTest, ValidatedCopyIsSortedWithoutRepeats) {
  ServiceSettings settings;
  settings.excludeIncompatibleSites = true;
  settings.enableVerboseTrace = true;
  settings.blockTrackingServiceCategories = {4, 1};
  settings.trackingServicesSettings = {{9, 0}, {2, 1}};
  const ServiceSettings copy = CopyValidatedServiceSettings(settings);
  EXPECT_EQ(std::vector<uint32_t>(copy.blockTrackingServiceCategories.begin(), copy.blockTrackingServiceCategories.end()),
            (std::vector<uint32_t>{1, 4}));
  ASSERT_EQ(copy.trackingServicesSettings.size(), 2u);
  EXPECT_EQ(copy.trackingServicesSettings[0].serviceId, 2u);
  EXPECT_EQ(copy.trackingServicesSettings[1].serviceId, 9u);
  EXPECT_TRUE(copy.excludeIncompatibleSites && copy.enableVerboseTrace);
  EXPECT_FALSE(copy.excludePartnerSites || copy.addTrackingNoise || copy.addDntHttpHeader);
  // The source keeps the caller's order.
  EXPECT_EQ(settings.blockTrackingServiceCategories[0], 4u);

  settings.blockTrackingServiceCategories = {4, 1, 4};
  EXPECT_EQ(ValidationError(settings), u"repeated options in ServiceSettings");
  settings.blockTrackingServiceCategories = {};
  settings.trackingServicesSettings = {{7, 1}, {7, 0}};
  EXPECT_EQ(ValidationError(settings), u"repeated options in ServiceSettings");
}

TEST(ServiceSettingsTest, ListsAllocateThroughTheAttachedAllocator) {
  const auto allocator = host::MakeHostObject<host::CountingAllocator>();
  {
    ServiceSettings settings{orv::ComPtr<orv::IAllocator>(allocator.Get())};
    settings.blockTrackingServiceCategories = {3, 1};
    settings.trackingServicesSettings = {{5, 1}};
    EXPECT_EQ(allocator->LiveBlocks(), 2);
    const ServiceSettings copy = CopyValidatedServiceSettings(settings);
    EXPECT_EQ(allocator->LiveBlocks(), 4);
    allocator->SetFailing(true);
    ServiceSettings failing{orv::ComPtr<orv::IAllocator>(allocator.Get())};
    EXPECT_THROW(failing.blockTrackingServiceCategories.push_back(1), std::bad_alloc);
    allocator->SetFailing(false);
  }
  EXPECT_EQ(allocator->LiveBlocks(), 0);
}

TEST(ServiceSettingsTest, TraceShowsTheCallersOrder) {
  const auto tracer = host::MakeHostObject<host::CapturingTracer>();
  ServiceSettings settings;
  settings.addDntHttpHeader = true;
  settings.blockTrackingServiceCategories = {3, 1};
  settings.trackingServicesSettings = {{2, 1}, {9, 0}};
  TraceServiceSettings(tracer.Get(), settings);
  EXPECT_EQ(tracer->Texts(800), std::vector<std::string>{
                                    "ProcessorFactory::ProcessorFactory(): ServiceSettings are: \n"
                                    "\texcludePartnerSites = 0\n"
                                    "\texcludeIncompatibleSites = 0\n"
                                    "\taddTrackingNoise = 0\n"
                                    "\taddDntHttpHeader = 1\n"
                                    "\tenableVerboseTrace = 0\n"
                                    "\tblockTrackingServiceCategories = [3, 1]\n"
                                    "\ttrackingServicesSettings = [2:1, 9:0]\n"});
  tracer->Clear();
  TraceServiceSettings(tracer.Get(), ServiceSettings{});
  EXPECT_NE(tracer->All().find("blockTrackingServiceCategories = []\n\ttrackingServicesSettings = []\n"),
            std::string::npos);
  tracer->SetThreshold(700);
  tracer->Clear();
  TraceServiceSettings(tracer.Get(), settings);
  EXPECT_TRUE(tracer->Lines().empty());
}

}  // namespace
}  // namespace dnt
