#include "bench/bases/real_shaped_database.h"

#include <random>

#include "bench/mask_engine/mask_set_generator.h"

namespace dnt::bench {

namespace {

constexpr uint32_t kTrackerServices = 1200;
constexpr uint32_t kPartnerServices = 40;
constexpr uint32_t kIncompatibleServices = 20;
constexpr uint32_t kBugs = 3000;
constexpr unsigned kTrackerPercent = 40;

uint32_t Below(std::mt19937_64& random, uint32_t n) { return static_cast<uint32_t>(random() % n); }

void AddServicesAndBugs(bases_writer::Database& db, std::mt19937_64& random) {
  const uint32_t services = kTrackerServices + kPartnerServices + kIncompatibleServices;
  for (uint32_t id = 1; id <= services; ++id) {
    const uint32_t category = id <= kTrackerServices                     ? 1 + Below(random, 4)
                              : id <= kTrackerServices + kPartnerServices ? 6
                                                                          : 7;
    db.services.push_back({id, category, "Service " + std::to_string(id)});
  }
  // The last bugs belong to the partner and incompatible services.
  for (uint32_t id = 1; id <= kBugs; ++id) {
    const uint32_t service = id <= kBugs - 200 ? 1 + Below(random, kTrackerServices)
                                               : kTrackerServices + 1 + Below(random, services - kTrackerServices);
    db.bugs.push_back({id, service});
  }
}

std::vector<std::string> Masks(MaskShape shape, uint32_t count, uint64_t seed) {
  return shape == MaskShape::kTrackerList ? mask_engine::bench::GenerateTrackerListMasks(count, seed)
                                          : mask_engine::bench::GenerateRealShapedMasks(count, seed);
}

}  // namespace

RealShapedDatabase MakeRealShapedDatabase(MaskShape shape, uint32_t rules, uint32_t distinctMasks,
                                          uint32_t exceptions, uint32_t urls, uint64_t seed) {
  std::mt19937_64 random(seed);
  RealShapedDatabase out;
  bases_writer::Database& db = out.database;
  AddServicesAndBugs(db, random);

  const std::vector<std::string> masks = Masks(shape, distinctMasks, seed);
  for (uint32_t i = 0; i < rules; ++i) {
    const std::string& mask = i < masks.size() ? masks[i] : masks[Below(random, distinctMasks)];
    db.rules.push_back({mask, 1 + Below(random, kBugs - 200)});
  }
  const std::vector<std::string> exceptionMasks = Masks(shape, exceptions, seed + 1);
  for (const std::string& mask : exceptionMasks) db.exceptions.push_back({mask, 1 + Below(random, kBugs), {}});
  db.timestamp = 139285911090000000;

  // Tracker requests go to rule hosts and, now and then, exception hosts.
  std::vector<std::string> targets = masks;
  targets.insert(targets.end(), exceptionMasks.begin(), exceptionMasks.end());
  out.urls = mask_engine::bench::GenerateRealShapedUrls(targets, urls, kTrackerPercent, seed + 2);
  return out;
}

}  // namespace dnt::bench
