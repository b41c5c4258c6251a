#include "do_not_track/util/binary_serializer.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "host/memory_io.h"
#include "orv/rtl/error_handling/exceptions.h"

namespace dnt {
namespace {

orv::ComPtr<host::MemoryIO> Stream(std::vector<uint8_t> bytes) {
  return host::MakeHostObject<host::MemoryIO>(std::move(bytes));
}

template <class F>
std::string OutOfRangeMessage(F&& f) {
  try {
    f();
  } catch (const std::out_of_range& e) {
    return e.what();
  }
  return "(no exception)";
}

TEST(BinaryStreamReaderTest, VarintsAndTheirLimits) {
  auto io = Stream({0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0x80, 0x05, 0x81, 0x00, 0x00});
  BinaryStreamReader reader(io.Get());
  EXPECT_EQ(reader.ReadVarint32(), 0xFFFFFFFFu);
  EXPECT_EQ(reader.Consumed(), 5u);
  EXPECT_EQ(reader.ReadVarint32(), 5u);  // non-minimal form
  EXPECT_EQ(reader.ReadVarint32(), 128u);
  EXPECT_EQ(reader.ReadVarint32(), 0u);
  EXPECT_EQ(reader.Consumed(), 10u);

  // Five bytes only: a sixth fetch would report the end of data instead.
  auto tooLong = Stream({0x80, 0x80, 0x80, 0x80, 0x81});
  BinaryStreamReader overlong(tooLong.Get());
  EXPECT_EQ(OutOfRangeMessage([&] { overlong.ReadVarint32(); }), "serialized scalar is out of range");

  std::vector<uint8_t> elevenByteLength(10, 0x80);
  elevenByteLength.push_back(0x01);
  auto blobIo = Stream(elevenByteLength);
  BinaryStreamReader blobReader(blobIo.Get());
  std::vector<uint8_t> blob;
  EXPECT_EQ(OutOfRangeMessage([&] { blobReader.ReadBlob(blob); }), "serialized scalar is out of range");
}

TEST(BinaryStreamReaderTest, FixedIntegersAndEmptyBlob) {
  auto io = Stream({0x42, 0x54, 0x4E, 0x44, 0x00});
  BinaryStreamReader reader(io.Get());
  EXPECT_EQ(reader.ReadFixed32(), 0x444E5442u);
  std::vector<uint8_t> blob{1, 2, 3};
  reader.ReadBlob(blob);
  EXPECT_TRUE(blob.empty());
  EXPECT_EQ(reader.Consumed(), 5u);
}

TEST(BinaryStreamReaderTest, StreamFailures) {
  auto empty = Stream({});
  BinaryStreamReader atEnd(empty.Get());
  EXPECT_EQ(OutOfRangeMessage([&] { atEnd.ReadFixed32(); }), "out of serialized data");

  auto failing = Stream({1, 2, 3});
  failing->FailReadsFrom(0, orv::result::MediaError);
  BinaryStreamReader reader(failing.Get());
  try {
    reader.ReadVarint32();
    FAIL() << "no exception";
  } catch (const orv::CheckResultFailedException& e) {
    EXPECT_EQ(orv::GetResultCode(e), orv::result::MediaError);
    EXPECT_EQ(e.WideMessage(), u"failed to fetch serialized data");
  }

  // Three bytes where a fixed integer needs four.
  auto shortStream = Stream({1, 2, 3});
  BinaryStreamReader shortReader(shortStream.Get());
  EXPECT_EQ(OutOfRangeMessage([&] { shortReader.ReadFixed32(); }), "out of serialized data");
}

TEST(BinaryStreamReaderTest, LargeBlobsUseBufferThenDirectRead) {
  for (const uint32_t length : {5000u, 10000u}) {
    std::vector<uint8_t> bytes{static_cast<uint8_t>(0x80 | (length >> 7)), static_cast<uint8_t>(length & 0x7F)};
    for (uint32_t i = 0; i < length + 3000; ++i) bytes.push_back(static_cast<uint8_t>(i * 7));
    auto io = Stream(bytes);
    BinaryStreamReader reader(io.Get());
    std::vector<uint8_t> blob;
    reader.ReadBlob(blob);
    ASSERT_EQ(blob.size(), length);
    EXPECT_TRUE(std::equal(blob.begin(), blob.end(), bytes.begin() + 2));
    EXPECT_EQ(reader.Consumed(), length + 2u);
    // One fill of the buffer, then one more fill (5000) or one direct read.
    EXPECT_EQ(io->ReadCalls(), 2u);
    // The next byte comes from where the blob ended.
    std::vector<uint8_t> next;
    reader.ReadBytes(next, 1);
    EXPECT_EQ(next[0], bytes[length + 2]);
  }
}

TEST(BinaryStreamReaderTest, LengthsBeyondTheLimitFailBeforeAllocating) {
  // A ten-byte length of about 2^63 over a stream of three bytes.
  std::vector<uint8_t> bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3};
  auto io = Stream(bytes);
  BinaryStreamReader reader(io.Get(), bytes.size());
  std::vector<uint8_t> blob;
  EXPECT_EQ(OutOfRangeMessage([&] { reader.ReadBlob(blob); }), "out of serialized data");
  EXPECT_EQ(blob.capacity(), 0u);

  auto io2 = Stream({3, 'a', 'b', 'c'});
  BinaryStreamReader exact(io2.Get(), 4);
  std::string text;
  exact.ReadBlob(text);
  EXPECT_EQ(text, "abc");
  EXPECT_EQ(exact.Remaining(), 0u);
  std::vector<uint8_t> raw;
  EXPECT_EQ(OutOfRangeMessage([&] { exact.ReadBytes(raw, 1u << 30); }), "out of serialized data");
}

TEST(ByteSpanReaderTest, EndOfSectionNamesTheSection) {
  const uint8_t bytes[] = {0x80, 0x05, 1, 2, 3, 4, 5, 6, 7};
  ByteSpanReader reader(bytes, bytes + 2, u"exceptions fix");
  EXPECT_EQ(reader.ReadVarint32(), 5u);
  EXPECT_TRUE(reader.AtEnd());
  try {
    reader.ReadByte();
    FAIL() << "no exception";
  } catch (const orv::RuntimeError& e) {
    EXPECT_EQ(e.WideMessage(), u"Unexpected end of the exceptions fix stream");
  }
  ByteSpanReader unnamed(bytes + 2, bytes + 9);
  try {
    unnamed.ReadFixed64();
    FAIL() << "no exception";
  } catch (const orv::RuntimeError& e) {
    EXPECT_EQ(e.WideMessage(), u"Unexpected end of the stream");
  }
  const uint8_t eight[] = {1, 2, 3, 4, 5, 6, 7, 0x80};
  ByteSpanReader fixed(eight, eight + 8, u"timestamp");
  EXPECT_EQ(fixed.ReadFixed64(), 0x8007060504030201u);
}

TEST(VarintWriterTest, MinimalFormsRoundTrip) {
  uint8_t out[5];
  EXPECT_EQ(WriteVarint(out, 127) - out, 1);
  EXPECT_EQ(out[0], 0x7F);
  EXPECT_EQ(WriteVarint(out, 128) - out, 2);
  EXPECT_EQ(out[0], 0x81);
  EXPECT_EQ(out[1], 0x00);
  EXPECT_EQ(WriteVarint(out, 300) - out, 2);
  EXPECT_EQ(out[0], 0x82);
  EXPECT_EQ(out[1], 0x2C);
  for (const uint32_t value : {0u, 1u, 0x3FFFu, 0x4000u, 0x1FFFFFu, 0x200000u, 0xFFFFFFFu, 0x10000000u, 0xFFFFFFFFu}) {
    const uint8_t* end = WriteVarint(out, value);
    EXPECT_EQ(static_cast<uint32_t>(end - out), VarintSize(value));
    ByteSpanReader reader(out, end);
    EXPECT_EQ(reader.ReadVarint32(), value);
    EXPECT_TRUE(reader.AtEnd());
  }
}

}  // namespace
}  // namespace dnt
