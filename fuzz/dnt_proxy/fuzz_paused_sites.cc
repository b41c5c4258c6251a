// Any bytes as the paused sites' state file, as the body of a pause
// request, and as the page fields of a request: a list or a refusal, every
// site named as SiteOf names it, and a list written back reads the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "tools/dnt_proxy/paused_sites.h"

namespace {

using namespace dnt_proxy;

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const std::vector<std::string> sites = ParsePausedSites(text);
    for (const std::string& site : sites) Require(!site.empty() && SiteOf(site) == site);
    Require(ParsePausedSites(PausedSitesText(sites)) == sites);
  } catch (const std::runtime_error&) {
  }
  try {
    const PauseRequest request = ParsePauseRequest(text);
    Require(!request.site.empty() && SiteOf(request.site) == request.site);
  } catch (const std::invalid_argument&) {
  }
  http::fields fields;
  fields.insert(http::field::referer, text);
  fields.insert(http::field::origin, text);
  const std::string site = PageSite(fields, text);
  Require(site.empty() || SiteOf(site) == site);
  return 0;
}
