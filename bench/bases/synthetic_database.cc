#include "bench/bases/synthetic_database.h"

#include <random>

namespace dnt::bench {

namespace {

const char* const Words[] = {"ads",   "track", "pixel", "stat",  "metric", "beacon", "cdn",   "tag",
                             "count", "log",   "click", "event", "media",  "sync",   "match", "rtb"};
const char* const Tlds[] = {"com", "net", "org", "io", "de", "co.uk", "ru", "fr"};
const char* const Paths[] = {"/pixel.gif", "/collect", "/js/tag.js", "/track", "/b/ss", "/v1/event", "/sync", "/p"};

class Generator {
 public:
  explicit Generator(uint32_t seed) : m_random(seed) {}

  uint32_t Below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(m_random); }
  template <size_t N>
  const char* Pick(const char* const (&list)[N]) {
    return list[Below(N)];
  }

  // Host names are unique per number, so masks rarely repeat.
  std::string Host(uint32_t n) {
    return std::string(Pick(Words)) + std::to_string(n) + "." + Pick(Words) + "." + Pick(Tlds);
  }

  std::string Mask(const std::string& host) {
    switch (Below(4)) {
      case 0:
        return "*." + host;
      case 1:
        return host + Pick(Paths);
      case 2:
        return host + Pick(Paths) + "*";
      default:
        return host + "/*/" + Pick(Words) + "?.js";
    }
  }

 private:
  std::mt19937 m_random;
};

std::string UrlForMask(const std::string& mask) {
  std::string url = "https://";
  for (const char c : mask) {
    if (c == '*') {
      url += "x";
    } else if (c == '?') {
      url += "1";
    } else {
      url += c;
    }
  }
  if (url.find('/', 8) == std::string::npos) url += "/index.html";
  return url + "?uid=42&r=7";
}

}  // namespace

SyntheticDatabase MakeSyntheticDatabase(uint32_t rules, uint32_t exceptions, uint32_t urls, uint32_t seed) {
  Generator generate(seed);
  SyntheticDatabase out;
  bases_writer::Database& db = out.database;
  const uint32_t services = 2000;
  const uint32_t bugs = 20000;
  for (uint32_t i = 1; i <= services; ++i) {
    db.services.push_back({i, 1 + generate.Below(7), std::string("Service ") + std::to_string(i)});
  }
  for (uint32_t i = 1; i <= bugs; ++i) db.bugs.push_back({i, 1 + (i - 1) % services});
  for (uint32_t i = 0; i < rules; ++i) db.rules.push_back({generate.Mask(generate.Host(i)), 1 + generate.Below(bugs)});
  for (uint32_t i = 0; i < exceptions; ++i) {
    bases_writer::Exception exception{generate.Mask(generate.Host(rules + i)), 1 + generate.Below(bugs), {}};
    db.exceptions.push_back(exception);
  }
  for (uint32_t i = 0; i < 500; ++i) db.httpsDomains.push_back("*." + generate.Host(i));
  for (uint32_t i = 0; i < 200; ++i) db.partnerSites.push_back(generate.Host(100000 + i));
  db.timestamp = 139285911090000000;

  for (uint32_t i = 0; i < urls; ++i) {
    switch (generate.Below(3)) {
      case 0:
        out.urls.push_back(UrlForMask(db.rules[generate.Below(rules)].mask));
        break;
      case 1:
        out.urls.push_back(exceptions ? UrlForMask(db.exceptions[generate.Below(exceptions)].mask)
                                      : "https://none.test/");
        break;
      default:
        out.urls.push_back("https://www." + generate.Host(500000 + i) + "/article/" + std::to_string(i) + ".html?x=1");
    }
  }
  return out;
}

}  // namespace dnt::bench
