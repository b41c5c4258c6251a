#include <gtest/gtest.h>

#include "do_not_track/util/base_files.h"
#include "do_not_track/util/storage_bases.h"
#include "host/memory_data_storage.h"
#include "host/packed_io_factory.h"
#include "host/service_locator.h"
#include "tests/base_files/base_files_test_support.h"

namespace {

using namespace base_files_test;
namespace result = orv::result;

struct StorageHost {
  StorageHost() {
    locator->Register(factory);
  }
  dnt::BaseFiles Collect() { return dnt::CollectBaseFiles(locator.Get(), nullptr, storage.Get()); }

  orv::ComPtr<host::ServiceLocator> locator = host::MakeHostObject<host::ServiceLocator>();
  orv::ComPtr<host::PackedIOFactory> factory = host::MakeHostObject<host::PackedIOFactory>();
  orv::ComPtr<host::MemoryDataStorage> storage = host::MakeHostObject<host::MemoryDataStorage>();
};

TEST(StorageBaseFiles, OpensScriptsInStorageOrderThenTheBugDatabase) {
  StorageHost host;
  host.storage->AddFile(u"dnt0009.dat", Packed("nine"));
  host.storage->AddFile(u"readme.txt", Packed("not a base"));
  host.storage->AddDirectory(u"dnt0005.dat");
  host.storage->AddFile(u"DNT0001.DAT", Packed("one"));
  host.storage->AddFile(u"dntbugs.dat", Packed("bugs"));

  const dnt::BaseFiles files = host.Collect();
  ASSERT_EQ(files.scriptStreams.size(), 2u);
  EXPECT_EQ(ReadAll(files.scriptStreams[0].Get()), "nine");
  EXPECT_EQ(ReadAll(files.scriptStreams[1].Get()), "one");
  EXPECT_EQ(ReadAll(files.bugStream.Get()), "bugs");
  EXPECT_TRUE(files.scriptFiles.empty());
  EXPECT_EQ(files.bugFile, nullptr);
  EXPECT_EQ(host.storage->OpenedNames(), (std::vector<std::u16string>{u"dnt0009.dat", u"DNT0001.DAT", u"dntbugs.dat"}));
}

TEST(StorageBaseFiles, EachFailingStepNamesItselfAndKeepsItsCode) {
  StorageHost host;
  host.storage->AddFile(u"dnt0001.dat", Packed("one"));
  host.storage->AddFile(u"dntbugs.dat", Packed("bugs"));

  host.storage->FailEnumerate(result::MediaError);
  Failure failure = FailureOf([&] { host.Collect(); });
  EXPECT_EQ(failure.message, "Failed to enumerate data storage");
  EXPECT_EQ(failure.code, result::MediaError);
  host.storage->FailEnumerate(result::NoError);

  host.storage->FailOpen(u"dnt0001.dat", result::AccessDenied);
  failure = FailureOf([&] { host.Collect(); });
  EXPECT_EQ(failure.file, "storage_bases");
  EXPECT_EQ(failure.message, "Failed to open storage-based file dnt0001.dat");
  EXPECT_EQ(failure.code, result::AccessDenied);
  host.storage->FailOpen(u"dnt0001.dat", result::NoError);

  host.storage->AddFile(u"dntbugs.dat", Bytes("SQZE but not really"));
  failure = FailureOf([&] { host.Collect(); });
  EXPECT_EQ(failure.file, "storage_bases");
  EXPECT_EQ(failure.message, "Failed to create unpacked io for storage-based file dntbugs.dat");
  EXPECT_EQ(failure.code, result::BasesCorrupted);

  auto empty = host::MakeHostObject<host::MemoryDataStorage>();
  failure = FailureOf([&] { dnt::CollectBaseFiles(host.locator.Get(), nullptr, empty.Get()); });
  EXPECT_EQ(failure.message, "Failed to open storage-based file dntbugs.dat");
  EXPECT_EQ(failure.code, result::FileNotFound);
}

TEST(StorageBaseFiles, MissingPackedIOFactory) {
  StorageHost host;
  host.storage->AddFile(u"dntbugs.dat", Packed("bugs"));
  host.locator->FailLookup(orv::IPackedIOFactory::iid, result::ClassNotFound);
  const Failure failure = FailureOf([&] { host.Collect(); });
  EXPECT_EQ(failure.file, "service_component_facade");
  EXPECT_EQ(failure.message, "Faild to get packed io factory");
  EXPECT_EQ(failure.code, result::ClassNotFound);
  // The storage is not touched before the factory is found.
  EXPECT_TRUE(host.storage->OpenedNames().empty());
}

}  // namespace
