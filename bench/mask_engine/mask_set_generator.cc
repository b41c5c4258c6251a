#include "bench/mask_engine/mask_set_generator.h"

#include <algorithm>
#include <iterator>
#include <random>
#include <set>

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

  // Pronounceable names, closer to real host names than random letters.
  std::string Name(size_t minSyllables, size_t maxSyllables) {
    static const char kConsonants[] = "bcdfghklmnprstvwz";
    static const char kVowels[] = "aeiou";
    std::string w;
    const size_t syllables = minSyllables + Below(maxSyllables - minSyllables + 1);
    for (size_t i = 0; i < syllables; ++i) {
      w += kConsonants[Below(sizeof kConsonants - 1)];
      w += kVowels[Below(sizeof kVowels - 1)];
      if (Chance(30)) w += kConsonants[Below(sizeof kConsonants - 1)];
    }
    if (Chance(10)) w += "-" + Word(2, 5);
    return w;
  }
  std::string Tld() { return kTlds[Below(std::size(kTlds))]; }

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

namespace {

const char* const kSubdomains[] = {"stats", "ads", "pixel", "t", "analytics", "cdn", "s", "track", "b", "px"};

std::string TrackerDomain(Random& random) {
  std::string domain = random.Name(2, 4) + "." + random.Tld();
  if (random.Chance(25)) domain = kSubdomains[random.Below(std::size(kSubdomains))] + ("." + domain);
  return domain;
}

std::string PathMask(Random& random, const std::string& domain) {
  const std::string word = random.PathWord();
  if (random.Chance(70)) {
    return "*." + domain + "/" + (random.Chance(50) ? word : word + "/" + random.Word(2, 6)) + "*";
  }
  return random.Chance(50) ? "*." + domain + "/" + word + "*/" + random.Word(3, 8)
                           : "*." + domain + "/*/" + word + "." + (random.Chance(50) ? "js" : "gif");
}

std::string WildcardHostMask(Random& random) {
  if (random.Chance(50)) return "*." + random.Word(2, 4) + "-*." + random.Name(2, 3) + "." + random.Tld();
  return "*." + random.Name(2, 3) + ".*/" + random.PathWord() + "/";
}

std::string RealShapedMask(Random& random) {
  const size_t kind = random.Below(1000);
  const std::string domain = TrackerDomain(random);
  if (kind < 760) return "*." + domain;
  if (kind < 960) return PathMask(random, domain);
  if (kind < 998) return random.Chance(50) ? "*." + domain + "/" + random.PathWord() + "/" : domain;
  return WildcardHostMask(random);
}

const char* const kListHostLabels[] = {"tr", "js", "metrics", "pixel", "collector", "stats", "t", "sb", "bat",
                                       "analytics", "tag", "beacon", "c1", "log", "cdn", "ads", "px", "sync"};
const char* const kListFiles[] = {"stat.js", "pixel.gif", "lib.min.js", "beacon.js", "track.php",
                                  "collect", "event", "tr", "p.gif", "count.js"};

// Registrable domains of a list: many trackers have several hosts in it.
std::vector<std::string> ListDomains(Random& random, size_t count) {
  std::vector<std::string> domains;
  for (size_t i = 0; i < count; ++i) {
    domains.push_back(random.Name(2, 4) + (random.Chance(15) ? "-" + random.PathWord() : "") + "." + random.Tld());
  }
  return domains;
}

// A host under a domain, the first domains chosen more often.
std::string ListHost(Random& random, const std::vector<std::string>& domains) {
  const std::string& domain = domains[random.Below(random.Below(domains.size()) + 1)];
  if (random.Chance(40)) return domain;
  std::string host = kListHostLabels[random.Below(std::size(kListHostLabels))] + ("." + domain);
  if (random.Chance(15)) host = random.Word(1, 4) + "." + host;
  return host;
}

std::string ListFile(Random& random) { return kListFiles[random.Below(std::size(kListFiles))]; }

// A path without wildcards, as an anchored rule gives it.
std::string ListLiteralPath(Random& random) {
  switch (random.Below(3)) {
    case 0: return "/" + random.PathWord() + "/";
    case 1: return "/" + random.PathWord() + "/" + ListFile(random);
    default: return "/" + ListFile(random);
  }
}

// Most rules match what begins with their path; some hold a '*' inside it,
// a few two.
std::string ListWildcardPath(Random& random) {
  const size_t kind = random.Below(100);
  if (kind < 60) {
    switch (random.Below(3)) {
      case 0: return "/" + random.PathWord() + "*";
      case 1: return "/" + random.PathWord() + "/" + ListFile(random) + "*";
      default: return "/" + ListFile(random) + "*";
    }
  }
  if (kind < 90) {
    switch (random.Below(3)) {
      case 0: return "/v*/" + ListFile(random);
      case 1: return "/*/" + ListFile(random) + "*";
      default: return "/" + random.PathWord() + "/v*/" + random.PathWord() + "/*";
    }
  }
  return random.Chance(50) ? "/" + random.PathWord() + "/*/" + random.PathWord() + "/*" + ListFile(random) + "*"
                           : "/*/" + random.PathWord() + "*/" + ListFile(random);
}

// Wildcards in a label, for a whole label, for the top-level domain, and
// for all but the top-level domain (which leaves it the only literal that
// ends the host).
std::string ListWildcardHost(Random& random, const std::string& domain) {
  const std::string label = kListHostLabels[random.Below(std::size(kListHostLabels))];
  switch (random.Below(5)) {
    case 0: return "*." + random.Word(2, 4) + "-*." + domain;
    case 1: return "*.*." + domain;
    case 2: return "*." + label + "*." + domain;
    case 3: return "*." + domain.substr(0, domain.find('.')) + ".*";
    default: return "*." + label + "*." + random.Tld();
  }
}

std::string TrackerListMask(Random& random, const std::vector<std::string>& domains) {
  const size_t kind = random.Below(1000);
  const std::string host = ListHost(random, domains);
  if (kind < 1) return ListWildcardHost(random, host);
  if (kind < 151) return "*." + host + ListWildcardPath(random);
  if (kind < 181) return "*." + host + ListLiteralPath(random);
  return "*." + host;
}

// A mask written back as a URL that it matches: wildcards filled in.
std::string Instantiate(Random& random, const std::string& mask) {
  std::string out;
  for (size_t i = 0; i < mask.size(); ++i) {
    if (mask[i] != '*') {
      out += mask[i];
    } else if (i == 0) {
      out += random.Chance(30) ? random.Name(1, 2) : "www";
    } else {
      out += random.Word(1, 6);
    }
  }
  if (out.size() >= 2 && out.compare(0, 2, "*.") == 0) out.erase(0, 2);
  return out;
}

std::string RandomPath(Random& random) {
  std::string path;
  const size_t segments = 1 + random.Below(3);
  for (size_t i = 0; i < segments; ++i) path += "/" + (random.Chance(50) ? random.PathWord() : random.Word(2, 10));
  if (random.Chance(60)) path += "." + std::string(random.Chance(50) ? "js" : "gif");
  return path;
}

// Half the requests carry a query; its length has a long tail.
std::string RandomQuery(Random& random) {
  if (random.Chance(43)) return "";
  std::string query = "?";
  const size_t pairs = random.Chance(85) ? 1 + random.Below(3) : 4 + random.Below(6);
  for (size_t i = 0; i < pairs; ++i) {
    if (i > 0) query += "&";
    query += random.Word(1, 6) + "=" + random.Word(2, 15);
  }
  return query;
}

std::string TrackerUrl(Random& random, const std::string& mask) {
  std::string url = Instantiate(random, mask);
  const size_t slash = url.find('/');
  if (slash == std::string::npos || random.Chance(40)) url = url.substr(0, slash) + RandomPath(random);
  return url;
}

std::string UnrelatedUrl(Random& random) {
  static const char* const kHosts[] = {"www", "static", "img", "m", "news", "api", "cdn"};
  return std::string(kHosts[random.Below(std::size(kHosts))]) + "." + random.Name(2, 5) + "." + random.Tld() +
         RandomPath(random);
}

// `count` masks made by `make()`, repeats skipped.
template <class Make>
std::vector<std::string> DistinctMasks(size_t count, Make&& make) {
  std::vector<std::string> masks;
  std::set<std::string> seen;
  masks.reserve(count);
  while (masks.size() < count) {
    std::string mask = make();
    if (seen.insert(mask).second) masks.push_back(std::move(mask));
  }
  return masks;
}

}  // namespace

std::vector<std::string> GenerateRealShapedMasks(size_t count, uint64_t seed) {
  Random random(seed);
  return DistinctMasks(count, [&] { return RealShapedMask(random); });
}

std::vector<std::string> GenerateTrackerListMasks(size_t count, uint64_t seed) {
  Random random(seed);
  const std::vector<std::string> domains = ListDomains(random, count / 2 + 1);
  return DistinctMasks(count, [&] { return TrackerListMask(random, domains); });
}

std::vector<std::string> GenerateRealShapedUrls(const std::vector<std::string>& masks, size_t count,
                                                unsigned trackerPercent, uint64_t seed) {
  Random random(seed);
  std::vector<std::string> urls;
  urls.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const std::string scheme = random.Chance(90) ? "https://" : "http://";
    const std::string target =
        random.Chance(trackerPercent) ? TrackerUrl(random, masks[random.Below(masks.size())]) : UnrelatedUrl(random);
    urls.push_back(scheme + target + RandomQuery(random));
  }
  return urls;
}

}  // namespace mask_engine::bench
