#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "url_parser/parsed_url.h"
#include "url_parser/testing/url_round_trip.h"

namespace orv::network {
namespace {

// Every text of up to four tokens over the characters that steer the
// parser: none may crash, and each must round-trip.
TEST(UrlRoundTripProperty, ExhaustiveOverDelimiterTokens) {
  const std::vector<std::string_view> tokens = {"a", "1",  ":",     "/",    "?",       "#",  "@",
                                                "[", "]", "//", "file:", "URL:", "mailto:", "x:"};
  std::vector<std::string> texts = {""};
  std::size_t failures = 0;
  for (int length = 1; length <= 4; ++length) {
    std::vector<std::string> longer;
    longer.reserve(texts.size() * tokens.size());
    for (const std::string& text : texts) {
      for (std::string_view token : tokens) longer.push_back(text + std::string(token));
    }
    for (const std::string& text : longer) {
      if (auto failure = testing::CheckUrlRoundTrip(text); failure && ++failures <= 10) {
        ADD_FAILURE() << "input '" << text << "': " << *failure;
      }
    }
    texts = std::move(longer);
  }
  EXPECT_EQ(failures, 0u);
}

struct GeneratedUrl {
  std::array<std::string, kUrlPartCount> parts;
  std::string text;
};

// Well-formed URLs assembled from known parts; the parser must find exactly
// those parts and the serialiser must give back the assembled text.
class UrlGenerator {
 public:
  explicit UrlGenerator(unsigned seed) : m_random(seed) {}

  GeneratedUrl Next() {
    GeneratedUrl url;
    auto& p = url.parts;
    p[0] = Pick({"", "http", "https", "ftp", "ws+x.1"});
    if (Chance(3)) {
      p[1] = Word("abcXYZ09-._~%!$&'()*+,;=");
      if (Chance(2)) p[2] = Word("abc09-._~%!$&'()*+,;=@");
    }
    p[3] = Chance(5) ? "[" + Word("0123456789abcdef:") + "]" : Pick({"h.test", "Ex.TEST", "a1"});
    if (Chance(3)) p[4] = Word("0123456789");
    if (Chance(2)) p[5] = Word("ab/09%:@;=.");
    const bool hasQuery = Chance(2), hasFragment = Chance(3);
    if (hasQuery) p[6] = Word("ab=&/?:@%+");
    if (hasFragment) p[7] = Word("ab=&/?:@%+#");

    std::string& t = url.text;
    if (!p[0].empty()) t += p[0] + "://";
    if (!p[1].empty()) t += p[1] + (p[2].empty() ? "" : ":" + p[2]) + "@";
    t += p[3];
    if (!p[4].empty()) t += ":" + p[4];
    if (!p[5].empty() || hasQuery || hasFragment) t += "/" + p[5];
    if (hasQuery) t += "?" + p[6];
    if (hasFragment) t += "#" + p[7];
    return url;
  }

 private:
  bool Chance(unsigned oneIn) { return m_random() % oneIn == 0; }
  std::string Pick(std::initializer_list<const char*> choices) {
    return *(choices.begin() + m_random() % choices.size());
  }
  std::string Word(std::string_view alphabet) {
    std::string word(1 + m_random() % 8, ' ');
    for (char& c : word) c = alphabet[m_random() % alphabet.size()];
    return word;
  }

  std::mt19937 m_random;
};

TEST(UrlRoundTripProperty, GeneratedUrlsKeepTheirParts) {
  UrlGenerator generator(20240611);
  for (int i = 0; i < 5000; ++i) {
    const GeneratedUrl generated = generator.Next();
    SCOPED_TRACE(generated.text);
    ParsedUrl url;
    ASSERT_NO_THROW(url = ParsedUrl::Parse(generated.text));
    for (std::size_t part = 0; part < kUrlPartCount; ++part) {
      ASSERT_EQ(url.Part(static_cast<UrlPart>(part)), generated.parts[part]) << "part " << part;
    }
    ASSERT_EQ(url.Serialise(), generated.text);
    ASSERT_EQ(testing::CheckUrlRoundTrip(generated.text), std::nullopt);
  }
}

}  // namespace
}  // namespace orv::network
