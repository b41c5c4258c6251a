#include "tools/dnt_proxy/paused_sites.h"

#include <gtest/gtest.h>

namespace {

using namespace dnt_proxy;

TEST(PausedSites, NameThePagesSiteAndCoverItsSubdomains) {
  for (const auto& [host, site] : {std::pair{"WWW.Shop.Test.", "shop.test"}, {"www.www.shop.test", "shop.test"},
                                   {"www.test", "www.test"}, {"[::1]", "::1"}, {"a b", ""}, {"a..b", ""}, {"", ""}}) {
    EXPECT_EQ(SiteOf(host), site) << host;
  }
  const struct {
    std::vector<std::pair<const char*, const char*>> fields;
    const char* site;
  } pages[] = {{{{"Referer", "http://www.shop.test/cart"}}, "shop.test"},
               {{{"Origin", "https://shop.test:8443"}}, "shop.test"},
               {{{"Referer", "about:blank"}, {"Origin", "null"}}, "tracker.test"},
               {{{"Sec-Fetch-Dest", "document"}, {"Referer", "http://other.test/"}}, "tracker.test"},
               {{}, "tracker.test"}};
  for (const auto& page : pages) {
    http::fields fields;
    for (const auto& [name, value] : page.fields) fields.insert(name, value);
    EXPECT_EQ(PageSite(fields, "tracker.test"), page.site) << page.site;
  }

  std::string problem;
  PausedSites sites({}, problem);
  sites.Set("shop.test", true);
  sites.Set("127.0.0.1", true);
  for (const auto& [site, covered] : {std::pair{"shop.test", true}, {"cdn.eu.shop.test", true}, {"myshop.test", false},
                                      {"test", false}, {"1.127.0.0.1", false}, {"", false}}) {
    EXPECT_EQ(sites.Covers(site), covered) << site;
  }
}

}  // namespace
