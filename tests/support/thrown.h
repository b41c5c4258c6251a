// What a call throws, as text, so that a test compares it in one line.
#pragma once

#include <exception>
#include <string>

namespace dnt::testing {

/// The what() of the E that `work` throws, or "(no exception)"; exceptions
/// of other types pass through and fail the test.
template <class E = std::exception, class Work>
std::string Thrown(Work&& work) {
  try {
    work();
  } catch (const E& e) {
    return e.what();
  }
  return "(no exception)";
}

}  // namespace dnt::testing
