#include <gtest/gtest.h>

#include "do_not_track/util/base_files.h"
#include "tests/base_files/base_files_test_support.h"

namespace {

using namespace base_files_test;
namespace result = orv::result;

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

}  // namespace
