// A traffic sink that keeps what it is given, for the scanner's tests.
#pragma once

#include <vector>

#include "tools/dnt_scan/traffic.h"

namespace dnt_scan_test {

struct CollectingSink final : dnt_scan::TrafficSink {
  void Page(dnt_scan::PageInfo page) override { pages.push_back(std::move(page)); }
  void Entry(dnt_scan::TrafficEntry entry) override { entries.push_back(std::move(entry)); }
  void Problem(dnt_scan::InputProblem problem) override { problems.push_back(std::move(problem)); }

  std::vector<dnt_scan::PageInfo> pages;
  std::vector<dnt_scan::TrafficEntry> entries;
  std::vector<dnt_scan::InputProblem> problems;
};

}  // namespace dnt_scan_test
