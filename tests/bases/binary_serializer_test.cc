// The encodings themselves; what the loader makes of broken or short streams
// is tested on whole files.
#include "do_not_track/util/binary_serializer.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "host/memory_io.h"
#include "orv/rtl/error_handling/exceptions.h"
#include "tests/support/thrown.h"

namespace dnt {
namespace {

using testing::Thrown;

TEST(BinaryStreamReaderTest, VarintsAndTheirLimits) {
  auto io = host::MakeHostObject<host::MemoryIO>(std::vector<uint8_t>{0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0x80, 0x05, 0x81,
                                                                      0x00, 0x80, 0x80, 0x80, 0x80, 0x81});
  BinaryStreamReader reader(io.Get());
  EXPECT_EQ(reader.ReadVarint32(), 0xFFFFFFFFu);
  EXPECT_EQ(reader.Consumed(), 5u);
  EXPECT_EQ(reader.ReadVarint32(), 5u);  // non-minimal form
  EXPECT_EQ(reader.ReadVarint32(), 128u);
  // Five bytes only: a sixth fetch would report the end of data instead.
  EXPECT_EQ(Thrown<std::out_of_range>([&] { reader.ReadVarint32(); }), "serialized scalar is out of range");

  std::vector<uint8_t> elevenByteLength(10, 0x80);
  elevenByteLength.push_back(0x01);
  auto blobIo = host::MakeHostObject<host::MemoryIO>(elevenByteLength);
  BinaryStreamReader blobReader(blobIo.Get());
  std::vector<uint8_t> blob;
  EXPECT_EQ(Thrown<std::out_of_range>([&] { blobReader.ReadBlob(blob); }), "serialized scalar is out of range");

  auto failing = host::MakeHostObject<host::MemoryIO>(std::vector<uint8_t>{1, 2, 3});
  failing->FailReadsFrom(0, orv::result::MediaError);
  BinaryStreamReader failingReader(failing.Get());
  try {
    failingReader.ReadVarint32();
    FAIL() << "no exception";
  } catch (const orv::CheckResultFailedException& e) {
    EXPECT_EQ(orv::GetResultCode(e), orv::result::MediaError);
    EXPECT_EQ(e.WideMessage(), u"failed to fetch serialized data");
  }
}

TEST(VarintWriterTest, MinimalFormsRoundTrip) {
  uint8_t out[5];
  EXPECT_EQ(WriteVarint(out, 300) - out, 2);
  EXPECT_EQ(out[0], 0x82);
  EXPECT_EQ(out[1], 0x2C);
  for (const uint32_t value : {0u, 127u, 128u, 0x3FFFu, 0x4000u, 0x1FFFFFu, 0x200000u, 0xFFFFFFFu, 0x10000000u,
                               0xFFFFFFFFu}) {
    const uint8_t* end = WriteVarint(out, value);
    EXPECT_EQ(static_cast<uint32_t>(end - out), VarintSize(value));
    ByteSpanReader reader(out, end);
    EXPECT_EQ(reader.ReadVarint32(), value);
    EXPECT_TRUE(reader.AtEnd());
  }
}

}  // namespace
}  // namespace dnt
