#include <gtest/gtest.h>

#include <algorithm>

#include "do_not_track/util/base_files.h"
#include "do_not_track/util/storage_bases.h"
#include "host/capturing_tracer.h"
#include "host/directory_data_storage.h"
#include "host/environment.h"
#include "host/memory_data_storage.h"
#include "host/memory_io.h"
#include "host/packed_io_factory.h"
#include "host/service_locator.h"
#include "tests/base_files/base_files_test_support.h"

namespace {

using namespace base_files_test;
using dnt::testing::PathSeparator;
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
  EXPECT_EQ(missing.message, "Failed to open file [" + dir.str() + PathSeparator + "dntbugs.dat]");
  // A trailing separator is not doubled.
  EXPECT_EQ(FailureOf([&] { DirectoryHost(dir.str() + PathSeparator).Collect(); }).message, missing.message);

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

orv::ComPtr<orv::IIO> StreamOver(const std::string& content) {
  return dnt::CreateUnsqueezedIO(std::make_shared<squeeze::UnsqueezedReadableFile>(Bytes(content)));
}

TEST(UnsqueezedIO, ReadsSeeksFromTheStartAndRefusesEverythingElse) {
  const orv::ComPtr<orv::IIO> io = StreamOver("0123456789");
  uint64_t size = 0;
  ASSERT_EQ(io->GetSize(&size), result::NoError);
  EXPECT_EQ(size, 10u);

  char buffer[16] = {};
  uint32_t got = 99;
  uint64_t position = 99;
  ASSERT_EQ(io->Seek(orv::seek_origin::Begin, 7, &position), result::NoError);
  EXPECT_EQ(position, 7u);
  ASSERT_EQ(io->Read(buffer, sizeof buffer, &got), result::NoError);
  EXPECT_EQ(std::string(buffer, got), "789");
  ASSERT_EQ(io->Read(buffer, sizeof buffer, &got), result::NoError);
  EXPECT_EQ(got, 0u);

  // Past the end is a position, not an error; reads there give nothing.
  ASSERT_EQ(io->Seek(orv::seek_origin::Begin, 1000, nullptr), result::NoError);
  got = 99;
  EXPECT_EQ(io->Read(buffer, sizeof buffer, &got), result::NoError);
  EXPECT_EQ(got, 0u);

  EXPECT_EQ(io->Seek(orv::seek_origin::Current, 0, &position), result::NotImplemented);
  EXPECT_EQ(io->Seek(orv::seek_origin::End, 0, &position), result::NotImplemented);
  EXPECT_EQ(io->Seek(orv::seek_origin::Begin, -1, &position), result::InvalidArgument);
  EXPECT_EQ(io->Write("x", 1, &got), result::NotImplemented);
  EXPECT_EQ(io->SetSize(0), result::NotImplemented);
  EXPECT_EQ(io->Flush(), result::NotImplemented);
  EXPECT_EQ(io->Read(nullptr, 1, &got), result::InvalidArgument);
  EXPECT_EQ(io->GetSize(nullptr), result::InvalidArgument);
}

TEST(HostDirectoryStorage, ListsFilesAndDirectoriesAndStaysInsideItsRoot) {
  TempDir dir;
  dir.Write("dntbugs.dat", Bytes("packed bugs"));
  fs::create_directory(dir.path() / "sub");
  dir.Write("sub/inner.dat", Bytes("inner"));
  auto storage = host::MakeHostObject<host::DirectoryDataStorage>(dir.str());

  std::vector<orv::StorageEntry> entries;
  ASSERT_EQ(storage->EnumerateDirectory(u"/", &entries), result::NoError);
  std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.name < b.name; });
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, u"dntbugs.dat");
  EXPECT_FALSE(entries[0].isDirectory);
  EXPECT_EQ(entries[1].name, u"sub");
  EXPECT_TRUE(entries[1].isDirectory);

  orv::ComPtr<orv::IIO> io;
  ASSERT_EQ(storage->Open(u"dntbugs.dat", 0, io.Put()), result::NoError);
  EXPECT_EQ(ReadAll(io.Get()), "packed bugs");
  ASSERT_EQ(storage->Open(u"/sub/inner.dat", 0, io.Put()), result::NoError);
  EXPECT_EQ(ReadAll(io.Get()), "inner");

  EXPECT_EQ(storage->Open(u"missing.dat", 0, io.Put()), result::FileNotFound);
  EXPECT_EQ(storage->Open(u"sub", 0, io.Put()), result::FileNotFound);
  EXPECT_EQ(storage->Open(u"sub/../../etc/passwd", 0, io.Put()), result::AccessDenied);
  EXPECT_EQ(storage->EnumerateDirectory(u"..", &entries), result::AccessDenied);
  EXPECT_EQ(storage->EnumerateDirectory(u"/nowhere", &entries), result::PathNotFound);
  EXPECT_FALSE(io);
}

TEST(HostPackedIOFactory, UnpacksWhateverTheStreamDeliversFromItsStart) {
  auto factory = host::MakeHostObject<host::PackedIOFactory>();
  const std::string content(200000, 'z');
  auto packed = host::MakeHostObject<host::MemoryIO>(Packed(content));
  packed->LimitReadSize(1000);  // a stream that reads short
  uint32_t got = 0;
  char skip[10];
  packed->Read(skip, sizeof skip, &got);  // and is not at its start

  orv::ComPtr<orv::IIO> unpacked;
  ASSERT_EQ(factory->CreateUnpackedIO(packed.Get(), unpacked.Put()), result::NoError);
  EXPECT_EQ(ReadAll(unpacked.Get()), content);

  packed->FailReadsFrom(100, result::MediaError);
  EXPECT_EQ(factory->CreateUnpackedIO(packed.Get(), unpacked.Put()), result::MediaError);
  EXPECT_FALSE(unpacked);

  auto garbage = host::MakeHostObject<host::MemoryIO>(Bytes("SQZE"));
  EXPECT_EQ(factory->CreateUnpackedIO(garbage.Get(), unpacked.Put()), result::BasesCorrupted);
  EXPECT_EQ(factory->CreateUnpackedIO(nullptr, unpacked.Put()), result::InvalidArgument);
}

}  // namespace
