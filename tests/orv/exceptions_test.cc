#include <gtest/gtest.h>

#include <string>

#include "orv/rtl/error_handling/exceptions.h"

namespace {

using namespace orv;

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
  // Frames inside a module name its path and file name.
  EXPECT_NE(what.find("orv_tests!"), std::string::npos) << what;
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

}  // namespace
