#include "bench/mask_engine/mask_set_generator.h"

#include <algorithm>
#include <iterator>
#include <random>

namespace mask_engine::bench {

namespace {

const char* const kTlds[] = {"com", "net", "org", "ru", "de", "io", "info", "co.uk", "com.br", "fr", "jp", "biz"};
const char* const kPathWords[] = {"pixel", "track", "ads", "banner", "collect", "beacon", "js", "img", "event", "v1"};

class Random {
 public:
  explicit Random(uint64_t seed) : m_engine(seed) {}
  size_t Below(size_t n) { return static_cast<size_t>(m_engine() % n); }
  bool Chance(unsigned percent) { return Below(100) < percent; }

  std::string Word(size_t minLen, size_t maxLen) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string w;
    const size_t len = minLen + Below(maxLen - minLen + 1);
    for (size_t i = 0; i < len; ++i) w += kLetters[Below(i == 0 ? 26 : 36)];
    return w;
  }
  std::string Domain() { return Word(4, 12) + "." + kTlds[Below(std::size(kTlds))]; }
  std::string PathWord() { return kPathWords[Below(std::size(kPathWords))]; }

 private:
  std::mt19937_64 m_engine;
};

// The domain part of a generated mask, without wildcards.
std::string DomainOf(const std::string& mask) {
  std::string d = mask.substr(0, mask.find('/'));
  if (d.rfind("*.", 0) == 0) d = d.substr(2);
  return d;
}

}  // namespace

std::vector<std::string> GenerateMasks(size_t count, uint64_t seed) {
  Random random(seed);
  std::vector<std::string> masks;
  masks.reserve(count);
  while (masks.size() < count) {
    const size_t kind = random.Below(100);
    const std::string domain = random.Domain();
    if (kind < 70) {
      masks.push_back("*." + domain);
    } else if (kind < 80) {
      masks.push_back(random.Chance(50) ? domain : random.Word(2, 6) + "." + domain);
    } else if (kind < 88) {
      masks.push_back(domain + "/" + random.PathWord() + "/*");
    } else if (kind < 94) {
      masks.push_back("*." + domain + "/" + random.PathWord() + "*." + (random.Chance(50) ? "gif" : "js"));
    } else {
      masks.push_back(domain + "/" + random.PathWord() + "?" + random.Word(1, 3) + "/*");
    }
  }
  return masks;
}

const char* UrlKindName(UrlKind kind) {
  switch (kind) {
    case UrlKind::kTrackerHit: return "hit";
    case UrlKind::kNearMiss: return "near_miss";
    case UrlKind::kLongQuery: return "long_query";
    case UrlKind::kManyLabels: return "many_labels";
    case UrlKind::kUnrelated: return "unrelated";
  }
  return "?";
}

std::vector<std::string> GenerateUrls(const std::vector<std::string>& masks, UrlKind kind, size_t count,
                                      uint64_t seed) {
  Random random(seed);
  std::vector<std::string> urls;
  urls.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    std::string domain = DomainOf(masks[random.Below(masks.size())]);
    const std::string path = "/" + random.PathWord() + "/" + random.Word(3, 10) + ".gif";
    switch (kind) {
      case UrlKind::kTrackerHit:
        urls.push_back("https://www." + random.Word(2, 8) + "." + domain + path + "?id=" + random.Word(6, 16));
        break;
      case UrlKind::kNearMiss:
        if (random.Chance(50)) {
          domain = "x" + domain;  // 'xsite.test' is not under '*.site.test'
        } else {
          domain[random.Below(domain.find('.'))] = '-';
        }
        urls.push_back("https://" + domain + path);
        break;
      case UrlKind::kLongQuery: {
        std::string query = "?";
        while (query.size() < 600) query += random.Word(3, 8) + "=" + random.Word(10, 40) + "&";
        urls.push_back("http://" + domain + path + query);
        break;
      }
      case UrlKind::kManyLabels: {
        std::string host;
        for (int label = 0; label < 12; ++label) host += random.Word(1, 6) + ".";
        urls.push_back("http://" + host + domain + path);
        break;
      }
      case UrlKind::kUnrelated:
        urls.push_back("https://www." + random.Domain() + "/news/" + random.Word(8, 30) + ".html");
        break;
    }
  }
  return urls;
}

std::vector<std::string> GenerateUrlMix(const std::vector<std::string>& masks, size_t count, uint64_t seed) {
  std::vector<std::string> mix;
  const size_t perKind = count / std::size(kAllUrlKinds);
  uint64_t kindSeed = seed;
  for (UrlKind kind : kAllUrlKinds) {
    for (auto& url : GenerateUrls(masks, kind, perKind, ++kindSeed)) mix.push_back(std::move(url));
  }
  std::shuffle(mix.begin(), mix.end(), std::mt19937_64(seed));
  return mix;
}

}  // namespace mask_engine::bench
