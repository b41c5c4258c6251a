#include "tools/list_import/entity_list.h"

#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "tools/list_import/host_masks.h"

namespace list_import {
namespace {

using nlohmann::json;

constexpr std::string_view WildcardPrefix = "*.";

// Longer hosts first; at equal length a plain host before a wildcard.
uint32_t Specificity(uint32_t labels, bool wildcard) {
  constexpr uint32_t MaxLabels = 128;
  return (MaxLabels - std::min(labels, MaxLabels)) * 2 + (wildcard ? 1 : 0);
}

const std::string* StringField(const json& entity, const char* name) {
  const auto it = entity.find(name);
  return it != entity.end() && it->is_string() ? it->get_ptr<const std::string*>() : nullptr;
}

void ImportDomain(const std::string& where, const json& domain, uint32_t serviceId, ImportedBases& bases,
                  ImportReport& report) {
  if (!domain.is_string()) {
    report.Unsupported(where, domain.type_name(), "a domain must be a string");
    return;
  }
  std::string_view host = domain.get_ref<const std::string&>();
  const bool wildcard = host.starts_with(WildcardPrefix);
  if (wildcard) host.remove_prefix(WildcardPrefix.size());
  const HostMasks masks = HostToMasks(host, wildcard, false);
  if (!masks.problem.empty()) {
    report.Unsupported(where, domain.get_ref<const std::string&>(), masks.problem);
    return;
  }
  report.wwwHosts += masks.www;
  report.rules += masks.masks.size();
  bases.bugs.push_back({serviceId, masks.masks, {}, Specificity(masks.labels, wildcard)});
}

void ImportEntity(size_t index, const json& entity, const CategoryMap& categories, uint32_t id,
                  ImportedBases& bases, ImportReport& report) {
  const std::string where = "entity " + std::to_string(index + 1);
  const std::string* name = entity.is_object() ? StringField(entity, "name") : nullptr;
  const std::string* category = name ? StringField(entity, "category") : nullptr;
  const auto domains = category ? entity.find("domains") : entity.end();
  if (!category || domains == entity.end() || !domains->is_array()) {
    report.Unsupported(where, name ? *name : entity.type_name(), "an entity has a name, a category and a list of domains");
    return;
  }
  const auto mapped = categories.find(*category);
  if (mapped == categories.end() || mapped->second == 0) {
    ++report.leftOut[*category];
    return;
  }
  bases.services.push_back({id, mapped->second, *name});
  ++report.services;
  const size_t rulesBefore = report.rules;
  for (const json& domain : *domains) ImportDomain(where + " (" + *name + ")", domain, id, bases, report);
  if (report.rules == rulesBefore) report.emptyServices.push_back(*name);
}

}  // namespace

CategoryMap DefaultEntityCategories() {
  return {{"social", 1}, {"analytics", 2}, {"ad", 3}, {"tag-manager", 4}, {"marketing", 4}};
}

void ImportEntities(std::string_view text, const CategoryMap& categories, uint32_t firstId, ImportedBases& bases,
                    ImportReport& report) {
  const json entities = json::parse(text, nullptr, false);
  if (entities.is_discarded()) throw std::invalid_argument("not JSON");
  if (!entities.is_array()) throw std::invalid_argument("not an entity list (a JSON array of entities)");
  if (entities.size() > std::numeric_limits<uint32_t>::max() - firstId) {
    throw std::invalid_argument("too many entities");
  }
  for (size_t i = 0; i < entities.size(); ++i) {
    ImportEntity(i, entities[i], categories, firstId + static_cast<uint32_t>(i), bases, report);
  }
}

}  // namespace list_import
