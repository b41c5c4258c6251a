#include <gtest/gtest.h>

#include <algorithm>

#include "host/directory_data_storage.h"
#include "host/environment.h"
#include "host/memory_io.h"
#include "host/packed_io_factory.h"
#include "tests/base_files/base_files_test_support.h"

namespace {

using namespace base_files_test;
namespace result = orv::result;

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
