#include "do_not_track/dnt_engine/bug_bases_exceptional_sites.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "do_not_track/dnt_engine/bug_queries.h"
#include "orv/rtl/error_handling/exceptions.h"
#include "orv/text/utf.h"
#include "tests/bases/loaded_bases.h"

namespace dnt {
namespace {

using ::testing::HasSubstr;
namespace tag = bases_writer::tag;

// The error text of enumerating `bytes` as `count` records, or the names.
std::string Enumerate(std::vector<uint8_t> bytes, uint32_t count, std::vector<std::u16string>* names = nullptr) {
  ExceptionalSites sites(nullptr);
  sites.Assign(std::move(bytes), count);
  std::vector<std::u16string> out{u"untouched"};
  try {
    sites.Enumerate(out);
  } catch (const orv::ResultCodeException& e) {
    EXPECT_EQ(out, std::vector<std::u16string>{u"untouched"});
    return "code " + std::to_string(orv::GetResultCode(e));
  } catch (const orv::Exception& e) {
    EXPECT_EQ(out, std::vector<std::u16string>{u"untouched"});
    return orv::text::ToUtf8(e.WideMessage());
  } catch (const std::exception& e) {
    return e.what();
  }
  if (names) *names = out;
  return "ok";
}

TEST(ExceptionalSitesTest, RecordWalk) {
  const std::vector<uint8_t> two = {0x03, 'a', 'b', 'c', 0x01, 'x'};
  std::vector<std::u16string> names;
  EXPECT_EQ(Enumerate(two, 2, &names), "ok");
  EXPECT_EQ(names, (std::vector<std::u16string>{u"abc", u"x"}));
  EXPECT_EQ(Enumerate(two, 1), "The exceptional sites stream size mismatch detected");
  EXPECT_EQ(Enumerate(two, 3), "Unexpected end of the exceptional sites stream");
  EXPECT_EQ(Enumerate({0x03, 'a', 'b', 'c', 0x01}, 2), "The exceptional sites stream is broken");
  EXPECT_EQ(Enumerate({0x00}, 1), "The exceptional sites stream is broken");
  EXPECT_EQ(Enumerate({0x05, 'a', 'b'}, 1), "Unexpected end of the exceptional sites stream");
  EXPECT_EQ(Enumerate({0x81}, 1), "Unexpected end of the exceptional sites stream");
  EXPECT_EQ(Enumerate({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}, 1), "serialized scalar is out of range");
  EXPECT_EQ(Enumerate({}, 0), "ok");
  EXPECT_EQ(Enumerate({0x01}, 0), "The exceptional sites stream size mismatch detected");
  // A count of four billion over a few bytes stops at the bytes.
  EXPECT_EQ(Enumerate(two, 0xFFFFFFFF), "Unexpected end of the exceptional sites stream");
  // Names are UTF-8.
  EXPECT_EQ(Enumerate({0x02, 0xC3, 0xA9, 0x04, 0xF0, 0x9F, 0x98, 0x80}, 2, &names), "ok");
  EXPECT_EQ(names, (std::vector<std::u16string>{u"\u00e9", u"\U0001F600"}));
  EXPECT_EQ(Enumerate({0x01, 0x80}, 1), "code " + std::to_string(orv::result::InvalidArgument));
  EXPECT_EQ(Enumerate({0x02, 0xE2, 0x82}, 1), "code " + std::to_string(orv::result::InvalidArgument));
}

TEST(ExceptionalSitesTest, BrokenListsLeaveTheLoadStanding) {
  bases_writer::FileLayout layout = bases_writer::Layout(testing::SmallDatabase());
  bases_writer::RemoveStream(layout, tag::PartnerSites);
  bases_writer::FindStream(layout, tag::IncompatibleSites)->count = 2;
  const testing::LoadedBases loaded = testing::LoadLayout(layout);
  ASSERT_EQ(loaded.result, orv::result::NoError);
  EXPECT_THAT(loaded.Failures(),
              HasSubstr("Failed to load bug bases partner site list:  bugs stream [TSLW, 1.0] not found"));
  EXPECT_THAT(loaded.Failures(), HasSubstr("Failed to load bug bases incompatible site list:  Unexpected end of the "
                                           "exceptional sites stream"));
  EXPECT_THAT(loaded.tracer->Texts(700), ::testing::Contains("Bug bases successfully loaded"));

  std::vector<std::u16string> sites{u"old"};
  loaded.bases->PartnerSites().Enumerate(sites);
  EXPECT_TRUE(sites.empty());
  // The broken list kept its bytes and fails again the same way.
  EXPECT_EQ(loaded.bases->IncompatibleSites().Count(), 2u);
  EXPECT_THROW(loaded.bases->IncompatibleSites().Enumerate(sites), orv::RuntimeError);
}

TEST(HttpsDomainsTest, LoadedListAndSafeFallback) {
  bases_writer::Database db = testing::SmallDatabase();
  db.httpsDomains = {"*.secure.test", "bank.test", "*.secure.test"};
  const testing::LoadedBases loaded = testing::LoadDatabase(db);
  ASSERT_EQ(loaded.result, orv::result::NoError);
  EXPECT_THAT(loaded.tracer->Texts(800), ::testing::Contains("Bugs db: loaded 3 out of 3 known https domains"));
  const BugBases& bases = *loaded.bases;
  const auto required = [&](const std::string& domain) {
    return IsHttpsDomainProcessingRequired(bases, domain.data(), static_cast<uint32_t>(domain.size()));
  };
  EXPECT_TRUE(required("www.secure.test"));
  EXPECT_TRUE(required("bank.test"));
  EXPECT_FALSE(required("other.test"));
  EXPECT_TRUE(loaded.tracer->Texts(500).empty());

  bases_writer::FileLayout layout = bases_writer::Layout(db);
  bases_writer::FindStream(layout, tag::HttpsDomains)->size = 100;
  const testing::LoadedBases broken = testing::LoadLayout(layout);
  ASSERT_EQ(broken.result, orv::result::NoError);
  EXPECT_THAT(broken.Failures(), HasSubstr("Failed to load https domain list, fallingback to safe shortcut:  bugs "
                                           "database stream size mismatch"));
  EXPECT_EQ(broken.bases->HttpsDomains(), nullptr);
  const std::string domain = "other.test";
  EXPECT_TRUE(IsHttpsDomainProcessingRequired(*broken.bases, domain.data(), static_cast<uint32_t>(domain.size())));
  EXPECT_EQ(broken.tracer->Texts(500), std::vector<std::string>{"Using safe fallback for https domain list"});
}

}  // namespace
}  // namespace dnt
