#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <typeinfo>

#include "host/capturing_tracer.h"
#include "orv/rtl/error_handling/exceptions.h"
#include "orv/rtl/error_handling/translate.h"

namespace {

using namespace orv;

template <class Throw>
result_t TranslateThrown(ITracer* tracer, const char* prefix, Throw&& doThrow) {
  try {
    doThrow();
  } catch (...) {
    return TranslateCurrentException(tracer, prefix);
  }
  return result::NoError;
}

class TranslateTest : public ::testing::Test {
 protected:
  ComPtr<host::CapturingTracer> tracer = host::MakeHostObject<host::CapturingTracer>();

  std::string OnlyLine() {
    auto lines = tracer->Lines();
    EXPECT_EQ(lines.size(), 1u);
    if (lines.empty()) return {};
    EXPECT_EQ(lines[0].level, 300u);
    return lines[0].text;
  }
};

TEST_F(TranslateTest, EveryHandlerRowGivesItsCodeAndText) {
  struct Row {
    std::function<void()> doThrow;
    result_t code;
    std::string text;
  } rows[] = {
      {[] { throw CheckResultFailedException("bases_provider", 7, 0x8000004c, u"failed"); }, 0x8000004c,
       "failed: 0x8000004c (Not found). At bases_provider(7) "},
      {[] { throw ResultCodeException("x", 1, 0, u"zero"); }, 0x80000152, "zero: 0x00000000 (No error). At x(1) "},
      {[] { throw RuntimeError("bug_bases", 114, u"Unexpected end of the stream"); }, 0x80000151,
       "Unexpected end of the stream. At bug_bases(114) "},
      {[] { throw GetInterfaceException("objclient", 103, 1, 0, 0x8000004c); }, 0x8000004c,
       "objclient(103): Can't get interface."},
      {[] { throw exception("plain", 2, "no code"); }, 0x80000151, "plain(2): no code."},
      {[] { throw std::bad_alloc(); }, 0x80000041, "std::bad_alloc"},
      {[] { throw std::bad_cast(); }, 0x80000047, "std::bad_cast"},
      {[] { throw std::length_error("too long"); }, 0x8000005c, "too long"},
      {[] { throw std::out_of_range("the bug index is out of range"); }, 0x8000005e,
       "the bug index is out of range"},
      {[] { throw std::invalid_argument("empty mask"); }, 0x80000046, "empty mask"},
      {[] { throw std::runtime_error("db is broken"); }, 0x80000151, "db is broken"},
      {[] { throw 42; }, 0x80000072, "unknown exception"},
  };
  for (auto& row : rows) {
    tracer->Clear();
    EXPECT_EQ(TranslateThrown(tracer.Get(), nullptr, row.doThrow), row.code) << row.text;
    EXPECT_EQ(OnlyLine().rfind(row.text, 0), 0u) << row.text;
  }
}

TEST_F(TranslateTest, PrefixThenNestedExceptionsOutermostCodeKept) {
  auto doThrow = [] {
    try {
      throw std::out_of_range("inner");
    } catch (...) {
      std::throw_with_nested(CheckResultFailedException("outer", 3, 0x8000006a, u"prepare failed"));
    }
  };
  EXPECT_EQ(TranslateThrown(tracer.Get(), "Prefix: ", doThrow), 0x8000006au);
  EXPECT_EQ(OnlyLine(), "Prefix:  prepare failed: 0x8000006a (Invalid state). At outer(3) inner");

  // An outer exception without code lets the inner one decide.
  tracer->Clear();
  auto noCode = [] {
    try {
      throw std::bad_alloc();
    } catch (...) {
      std::throw_with_nested(std::runtime_error("wrapper"));
    }
  };
  EXPECT_EQ(TranslateThrown(tracer.Get(), nullptr, noCode), 0x80000151u);
  EXPECT_EQ(OnlyLine(), "wrapperstd::bad_alloc");
}

TEST_F(TranslateTest, RefusingOrMissingTracerOnlySuppressesText) {
  tracer->SetThreshold(299);
  EXPECT_EQ(TranslateThrown(tracer.Get(), "p ", [] { throw std::out_of_range("x"); }), 0x8000005eu);
  EXPECT_TRUE(tracer->Lines().empty());
  EXPECT_EQ(TranslateThrown(nullptr, "p ", [] { throw std::invalid_argument("x"); }), 0x80000046u);
  EXPECT_EQ(tracer->OpenBuffers(), 0);
}

TEST_F(TranslateTest, NothingInFlight) { EXPECT_EQ(TranslateCurrentException(tracer.Get(), "p"), 0x80000150u); }

}  // namespace
