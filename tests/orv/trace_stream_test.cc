#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "host/capturing_tracer.h"
#include "orv/text/utf.h"
#include "orv/trace/trace_stream.h"
#include "orv/trace/version.h"

namespace {

using namespace orv;

class TraceStreamTest : public ::testing::Test {
 protected:
  ComPtr<host::CapturingTracer> tracer = host::MakeHostObject<host::CapturingTracer>();

  template <class Write>
  std::string Line(Write&& write) {
    tracer->Clear();
    {
      TraceStream s(tracer.Get(), 800);
      write(s);
    }
    auto lines = tracer->Lines();
    return lines.size() == 1 ? lines[0].text : "<" + std::to_string(lines.size()) + " lines>";
  }
};

TEST_F(TraceStreamTest, IntegersFollowBaseShowBaseAndSign) {
  EXPECT_EQ(Line([](TraceStream& s) { s << hex << 0x8000006au; }), "8000006a");
  EXPECT_EQ(Line([](TraceStream& s) { s << hex << showbase << 0x8000006au; }), "0x8000006a");
  EXPECT_EQ(Line([](TraceStream& s) { s << oct << showbase << 8 << ' ' << dec << 8; }), "010 8");
  EXPECT_EQ(Line([](TraceStream& s) { s << -42 << ' ' << 0 << ' ' << INT64_MIN; }), "-42 0 -9223372036854775808");
  EXPECT_EQ(Line([](TraceStream& s) { s << showbase << 7u << ' ' << UINT64_MAX; }), "7 18446744073709551615");
}

TEST_F(TraceStreamTest, WidthFillAndAdjustmentApplyToOneItem) {
  EXPECT_EQ(Line([](TraceStream& s) { s << setw(5) << 42 << '|' << 42; }), "   42|42");
  EXPECT_EQ(Line([](TraceStream& s) { s << left << setw(5) << "ab" << '|'; }), "ab   |");
  EXPECT_EQ(Line([](TraceStream& s) { s << internal << setfill('0') << hex << showbase << setw(8) << 255u; }),
            "0x0000ff");
  EXPECT_EQ(Line([](TraceStream& s) { s << setw(2) << "long"; }), "long");
}

TEST_F(TraceStreamTest, PointersAndWideText) {
  EXPECT_EQ(Line([](TraceStream& s) { s << static_cast<const void*>(nullptr); }), "0x0");
  EXPECT_EQ(Line([](TraceStream& s) { s << reinterpret_cast<const void*>(0xabc0); }), "0xabc0");
  EXPECT_EQ(Line([](TraceStream& s) { s << ObjectPrefix{reinterpret_cast<const void*>(0x10)} << "  X()"; }),
            "[0x10]  X()");
  // A pair forms one code point; lone surrogates are encoded as themselves.
  EXPECT_EQ(Line([](TraceStream& s) { s << std::u16string(u"a\u00e9\u20ac\U0001F600"); }),
            "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
  EXPECT_EQ(Line([](TraceStream& s) { s << std::u16string{char16_t(0xDC00), u'x', char16_t(0xD800)}; }),
            "\xed\xb0\x80x\xed\xa0\x80");
  EXPECT_EQ(Line([](TraceStream& s) { s << static_cast<const char*>(nullptr); }), "(null)");
}

TEST_F(TraceStreamTest, RefusedLevelFormatsNothing) {
  tracer->SetThreshold(700);
  {
    TraceStream s(tracer.Get(), 800);
    EXPECT_FALSE(s);
    s << "ignored" << 1;
  }
  EXPECT_EQ(tracer->Calls(), 1u);  // only the refused begin
  EXPECT_TRUE(tracer->Lines().empty());
  TraceStream none(nullptr, 300);
  EXPECT_FALSE(none);
}

TEST_F(TraceStreamTest, LongLinesEnlargeOrAreCutOff) {
  const std::string chunk(400, 'a');
  EXPECT_EQ(Line([&](TraceStream& s) { s << chunk << chunk << chunk; }), chunk + chunk + chunk);
  EXPECT_EQ(tracer->OpenBuffers(), 0);

  tracer->SetRefuseEnlarge(true);
  std::string text = Line([&](TraceStream& s) { s << "head " << chunk << chunk << "tail"; });
  EXPECT_EQ(text.find(chunk + chunk), std::string::npos);
  EXPECT_EQ(text.find("tail"), std::string::npos);
  EXPECT_EQ(tracer->OpenBuffers(), 0);  // the buffer still went back
}

TEST_F(TraceStreamTest, GrowthNeverWrapsAtFourGiB) {
  EXPECT_EQ(TraceStream::GrownCapacity(512, 513), 1024u);
  EXPECT_EQ(TraceStream::GrownCapacity(512, 5000), 5000u);
  EXPECT_EQ(TraceStream::GrownCapacity(0x80000000u, 0x80000001u), UINT32_MAX);
  EXPECT_EQ(TraceStream::GrownCapacity(0xC0000000u, 0xC0000001u), UINT32_MAX);
  EXPECT_EQ(TraceStream::GrownCapacity(0xC0000000u, size_t{1} << 32), 0u);
  // An item no line can hold is dropped without being read.
  EXPECT_EQ(Line([](TraceStream& s) { s << "head"; s.Write(nullptr, UINT32_MAX); s << "tail"; }), "headtail");
}

TEST_F(TraceStreamTest, ProductVersionSwapsItsLastTwoNumbersAndFillsMissingOnesWith999) {
  EXPECT_EQ(Line([](TraceStream& s) { s << hex << ParseProductVersion("1.2.3.4"); }), "DAR Odurur ver. 1.2.4.3");
  EXPECT_EQ(Line([](TraceStream& s) { s << ParseProductVersion("5.6"); }), "DAR Odurur ver. 5.6.999.999");
  EXPECT_EQ(Line([](TraceStream& s) { s << ParseProductVersion("x.1"); }), "DAR Odurur ver. 999.999.999.999");
}

// Texts that are all ASCII take a shortcut; the others, and a text that
// turns bad after an ASCII start, must still convert (or fail) in full.
TEST(Utf8Conversion, WidensAsciiAndDecodesTheRest) {
  struct Case {
    std::string_view utf8;
    std::optional<std::u16string> wide;
  };
  const Case cases[] = {
      {"", u""},
      {"Google Analytics", u"Google Analytics"},
      {"Caf\xC3\xA9 \xE2\x82\xAC", u"Caf\u00E9 \u20AC"},
      {"pin \xF0\x9F\x93\x8C", u"pin \U0001F4CC"},
      {"ab\xFF", std::nullopt},
      {"\x80", std::nullopt},
      {"ab\xC3", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(text::FromUtf8(c.utf8), c.wide) << c.utf8;
    if (c.wide) {
      EXPECT_EQ(text::ToUtf8(*c.wide), c.utf8);
    }
  }
}

}  // namespace
