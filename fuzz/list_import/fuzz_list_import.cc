// Any bytes as an adblock list, a hosts file and an entity list: the import
// never fails on them, every rule it writes is a mask the engine compiles,
// and every plain host it writes matches a URL on that host.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mask_engine/mask_engine.h"
#include "tools/list_import/adblock_list.h"
#include "tools/list_import/entity_list.h"
#include "tools/list_import/hosts_file.h"

namespace {

using namespace list_import;

void Require(bool condition) {
  if (!condition) std::abort();
}

bool IsPlainHost(std::string_view mask) {
  if (mask.starts_with("*.")) mask.remove_prefix(2);
  return mask.find_first_of("*/") == std::string_view::npos;
}

void CheckRules(const nlohmann::json& rules) {
  const auto engine = mask_engine::MaskEngine::Create();
  for (const auto& rule : rules) {
    const std::string& mask = rule["mask"].get_ref<const std::string&>();
    Require(!mask.empty() && mask.find_first_of("?\\ \t\r\n") == std::string::npos);
    Require(engine->AddMask(mask.data(), static_cast<uint32_t>(mask.size())).added);
  }
  engine->Finalize();
  const auto matcher = engine->CreateMatcher();
  for (const auto& rule : rules) {
    std::string_view mask = rule["mask"].get_ref<const std::string&>();
    if (!IsPlainHost(mask)) continue;
    if (mask.starts_with("*.")) mask.remove_prefix(2);
    // URLs lose one leading "www." before matching, masks never.
    const std::string url = "http://www." + std::string(mask) + "/x";
    Require(!matcher->Match(url.data(), static_cast<uint32_t>(url.size())).empty());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  ImportedBases bases;
  ImportReport report;
  try {
    ImportEntities(text, DefaultEntityCategories(), 1, bases, report);
  } catch (const std::invalid_argument&) {
  }
  ImportAdblockList(text, bases.LastServiceId() + 1, 3, "adblock", bases, report);
  ImportHostsFile(text, bases.LastServiceId() + 1, 3, "hosts", bases, report);
  Require(report.samples.size() <= ImportReport::SampleLimit && report.samples.size() <= report.unsupported);
  size_t duplicates = 0;
  const nlohmann::json source = ToSourceJson(bases, {}, duplicates);
  for (size_t i = 0; i < source["bugs"].size(); ++i) Require(source["bugs"][i]["id"] == i + 1);
  CheckRules(source["rules"]);
  return 0;
}
