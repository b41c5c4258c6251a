#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <typeinfo>

#include "host/capturing_tracer.h"
#include "orv/rtl/error_handling/exceptions.h"
#include "orv/rtl/error_handling/result_text.h"
#include "orv/rtl/error_handling/translate.h"

namespace {

using namespace orv;

TEST(ResultCodes, TextsCoverBothFacilitiesAndNothingElse) {
  EXPECT_EQ(ResultCodeToText(0), "No error");
  EXPECT_EQ(ResultCodeToText(1), "False");
  EXPECT_EQ(ResultCodeToText(0x80000001), "Interface not supported");
  EXPECT_EQ(ResultCodeToText(0x8000006a), "Invalid state");
  EXPECT_EQ(ResultCodeToText(0x80000313), "DateTime syntax error");
  EXPECT_EQ(ResultCodeToText(0x80010100), "Unspecified platform error");
  EXPECT_EQ(ResultCodeToText(0x80010118), "System shutdown in progress");
  // Gaps inside the table, the text-less platform codes, other facilities and
  // successes other than 0 and 1.
  for (result_t code : {0x8000004eu, 0x80010119u, 0x8001010au, 0x8001010fu, 0x80020000u, 0x80070005u, 2u})
    EXPECT_EQ(ResultCodeToText(code), "Unknown result code") << std::hex << code;
}

TEST(ResultCodes, OsErrorsMapThroughTableFacilityAndUnwrapping) {
  EXPECT_EQ(Win32ErrorToResult(0), 0u);
  EXPECT_EQ(Win32ErrorToResult(2), 0x80010102u);
  EXPECT_EQ(Win32ErrorToResult(267), 0x80010103u);
  EXPECT_EQ(Win32ErrorToResult(1460), 0x80000221u);
  EXPECT_EQ(Win32ErrorToResult(14001), 0x80010108u);
  // Unlisted small numbers keep their value under facility 7.
  EXPECT_EQ(Win32ErrorToResult(9999), 0x8007270fu);
  // Success values and foreign failures.
  EXPECT_EQ(Win32ErrorToResult(0x10000), 0u);
  EXPECT_EQ(Win32ErrorToResult(0x80004005), 0x80010100u);
  // Wrapped OS errors are unwrapped and mapped again.
  EXPECT_EQ(Win32ErrorToResult(0x80070005), 0x80000045u);
  EXPECT_EQ(Win32ErrorToResult(0x800700ea), 0x80000044u);
  EXPECT_EQ(Win32ErrorToResult(0x80071234), 0x80071234u);
}

TEST(Exceptions, ResultCodeComesFromResultThenOsErrorElseNone) {
  EXPECT_EQ(GetResultCode(exception("f", 1, "m")), result::ExceptionHasNoResultCode);
  EXPECT_EQ(GetResultCode(CheckResultFailedException("f", 1, 0x8000004c)), 0x8000004cu);
  EXPECT_EQ(GetResultCode(ResultCodeException("f", 1)), result::InterfaceNotSupported);

  exception e("f", 1, "m");
  e.SetProperty(property::OsResult, OsErrorValue{5});
  EXPECT_EQ(GetResultCode(e), result::AccessDenied);
  // "orv.result" wins over "os.result", whatever their order.
  e.SetProperty(property::Result, ResultCodeValue{0x80000041});
  EXPECT_EQ(GetResultCode(e), result::OutOfMemory);
  // A property of the right name but the wrong type does not count.
  exception typed("f", 1, "m");
  typed.SetProperty(property::Result, std::string("0x80000041"));
  EXPECT_EQ(GetResultCode(typed), result::ExceptionHasNoResultCode);
}

TEST(Exceptions, WhatShowsLocationMessagePropertiesAndStack) {
  GetInterfaceException e("objclient", 103, 0x9cca5603, 0, 0x8000004c);
  std::string what = e.what();
  EXPECT_EQ(what.rfind("objclient(103): Can't get interface. Properties:\n", 0), 0u) << what;
  EXPECT_NE(what.find("\norv.iid=0x9cca5603\n"), std::string::npos) << what;
  EXPECT_NE(what.find("\norv.serviceKey=0x00000000\n"), std::string::npos);
  EXPECT_NE(what.find("\norv.result=0x8000004c\nCall stack:\n0# "), std::string::npos) << what;
  // Frames inside a module name its path and file name, as the system has it.
#if defined(_WIN32)
  EXPECT_NE(what.find("orv_tests.exe!"), std::string::npos) << what;
#else
  EXPECT_NE(what.find("orv_tests!"), std::string::npos) << what;
#endif
  // Built once: the same text comes back, also from a copy.
  exception copy = e;
  EXPECT_EQ(copy.what(), e.what());

  exception bare("here", -5, "nothing");
  EXPECT_EQ(std::string(bare.what()).rfind("here(-5): nothing. Call stack:\n", 0), 0u) << bare.what();
}

TEST(Exceptions, PropertiesReplaceByNameAndShowTheirTypes) {
  exception e("f", 1, "m");
  e.SetProperty("n", uint64_t{0x1234});
  e.SetProperty("w", std::u16string(u"\u00e9"));
  e.SetProperty("t", OpaqueValue{&typeid(int)});
  e.SetProperty("n", uint64_t{0xabcdef});
  e.SetProperty(std::string(40, 'x'), std::string("long"));
  std::string what = e.what();
  EXPECT_NE(what.find("\nn=0x0000000000abcdef\nw=\xc3\xa9\nt=<typeid="), std::string::npos) << what;
  EXPECT_EQ(what.find("0x0000000000001234"), std::string::npos);
  EXPECT_NE(what.find("\n" + std::string(31, 'x') + "=long\n"), std::string::npos) << what;
}

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
