#include <gtest/gtest.h>

#include "do_not_track/util/base_files.h"
#include "host/capturing_tracer.h"
#include "host/environment.h"
#include "host/service_locator.h"
#include "tests/base_files/base_files_test_support.h"

namespace {

using namespace base_files_test;
namespace result = orv::result;

struct DirectoryHost {
  explicit DirectoryHost(const std::string& directory)
      : environment(host::MakeHostObject<host::Environment>(orv::text::FromUtf8(directory).value())) {
    locator->Register(environment);
  }
  dnt::BaseFiles Collect() { return dnt::CollectBaseFiles(locator.Get(), tracer.Get(), nullptr); }

  orv::ComPtr<host::ServiceLocator> locator = host::MakeHostObject<host::ServiceLocator>();
  orv::ComPtr<host::CapturingTracer> tracer = host::MakeHostObject<host::CapturingTracer>();
  orv::ComPtr<host::Environment> environment;
};

TEST(DirectoryBaseFiles, ScriptFilesAreOptionalButTheBugDatabaseIsNot) {
  TempDir dir;
  DirectoryHost host(dir.str());
  dir.Write("dntbugs.dat", Packed("bugs"));
  EXPECT_TRUE(host.Collect().scriptStreams.empty());

  fs::remove(dir.path() / "dntbugs.dat");
  dir.Write("dnt0001.dat", Packed("script"));
  const Failure missing = FailureOf([&] { host.Collect(); });
  EXPECT_EQ(missing.message, "Failed to open file [" + dir.str() + "/dntbugs.dat]");
  // A trailing separator is not doubled.
  EXPECT_EQ(FailureOf([&] { DirectoryHost(dir.str() + "/").Collect(); }).message, missing.message);

  // A script file that does not unpack fails the whole collection.
  dir.Write("dntbugs.dat", Packed("bugs"));
  dir.Write("dnt0002.dat", Bytes("not a container"));
  EXPECT_EQ(FailureOf([&] { host.Collect(); }).message, "Failed to unpack the file");
}

TEST(DirectoryBaseFiles, HostServiceAndListingFailuresCarryTheirCodes) {
  TempDir dir;
  const std::string missingDir = dir.str() + "/no such bases";
  const Failure notFound = FailureOf([&] { DirectoryHost(missingDir).Collect(); });
  EXPECT_EQ(notFound.file, "enum_files_orv");
  EXPECT_EQ(notFound.code, result::PathNotFound);

  DirectoryHost host(dir.str());
  host.environment->FailExpand(result::AccessDenied);
  const Failure expand = FailureOf([&] { host.Collect(); });
  EXPECT_EQ(expand.file, "service_component_facade");
  EXPECT_EQ(expand.code, result::AccessDenied);

  host.locator->FailLookup(orv::IEnvironment::iid, result::NotImplemented);
  const Failure lookup = FailureOf([&] { host.Collect(); });
  EXPECT_EQ(lookup.file, "service_component_facade");
  EXPECT_EQ(lookup.code, result::NotImplemented);

  // No environment registered at all.
  auto bareLocator = host::MakeHostObject<host::ServiceLocator>();
  const Failure absent = FailureOf([&] { dnt::CollectBaseFiles(bareLocator.Get(), nullptr, nullptr); });
  EXPECT_EQ(absent.file, "service_component_facade");
  EXPECT_TRUE(orv::Failed(absent.code));
}

}  // namespace
