// Input: lines split at '\n'; a line starting with '>' is a text to match
// (without the '>'), any other line a mask. Every mask set is compiled with
// the literal index and with the automaton alone, and every text must get
// the same masks from both; small inputs are also checked against the
// reference glob matcher, repeated and overlapping masks included. Every
// text's canonical form must be the same whether it is used in place or
// written out.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "mask_engine/canonical_text.h"
#include "mask_engine/cursor_automaton.h"
#include "mask_engine/mask_engine.h"
#include "tests/mask_engine/reference_matcher.h"

namespace {

// Long enough for a tracker list's masks ('*.js.vendor.io/v*/lib.min.js')
// and the URLs made from them.
constexpr size_t kReferenceMaxMask = 32;
constexpr size_t kReferenceMaxText = 64;

struct Input {
  std::vector<std::string> masks;
  std::vector<std::string> texts;
};

Input Split(std::string_view data) {
  Input input;
  size_t start = 0;
  while (start <= data.size()) {
    size_t end = data.find('\n', start);
    if (end == std::string_view::npos) end = data.size();
    const std::string_view line = data.substr(start, end - start);
    if (!line.empty() && line[0] == '>') {
      input.texts.emplace_back(line.substr(1));
    } else {
      input.masks.emplace_back(line);
    }
    start = end + 1;
  }
  return input;
}

std::vector<uint64_t> Run(mask_engine::MaskMatcher& matcher, const std::string& text) {
  return mask_engine::testing::Indexes(matcher.Match(text.data(), static_cast<uint32_t>(text.size())), true);
}

std::shared_ptr<mask_engine::MaskEngine> Compile(const std::vector<std::string>& masks,
                                                 mask_engine::MatchMethod method) {
  auto engine = mask_engine::MaskEngine::Create(method);
  for (const auto& m : masks) engine->AddMask(m.data(), static_cast<uint32_t>(m.size()));
  try {
    engine->Finalize();
  } catch (const std::out_of_range&) {
    return nullptr;  // more than 255 literal children: a documented refusal
  }
  return engine;
}

void MatchEverything(const Input& input) {
  const auto indexed = Compile(input.masks, mask_engine::MatchMethod::kIndexed);
  const auto automaton = Compile(input.masks, mask_engine::MatchMethod::kAutomatonOnly);
  if (!indexed) return;
  auto fast = indexed->CreateMatcher();
  auto reference = automaton ? automaton->CreateMatcher() : nullptr;
  for (const auto& text : input.texts) {
    const std::vector<uint64_t> ids = Run(*fast, text);
    // Each reported record is one route to one key; routes per key are capped.
    if (ids.size() > 2 * mask_engine::CursorAutomaton::kMaxCount * 6 * input.masks.size()) abort();
    if (reference && ids != Run(*reference, text)) abort();
  }
}

void CompareCanonicalForms(const Input& input) {
  mask_engine::CanonicalText inPlace;
  mask_engine::CanonicalText written;
  for (const auto& text : input.texts) {
    inPlace.Build(text.data(), static_cast<uint32_t>(text.size()));
    written.BuildInBuffer(text.data(), static_cast<uint32_t>(text.size()));
    if (inPlace.Host() != written.Host() || inPlace.Rest() != written.Rest() ||
        !std::ranges::equal(inPlace.Separators(), written.Separators()) ||
        inPlace.HostSeparators().size() != written.HostSeparators().size() ||
        inPlace.HostHasSlash() != written.HostHasSlash()) {
      abort();
    }
  }
}

void CompareWithReference(const Input& input) {
  mask_engine::testing::ReferenceMasks reference;
  std::vector<std::string> masks;
  for (const auto& m : input.masks) {
    if (m.size() <= kReferenceMaxMask && reference.Add(m)) masks.push_back(m);
  }
  const auto engine = Compile(masks, mask_engine::MatchMethod::kIndexed);
  if (!engine) return;
  auto matcher = engine->CreateMatcher();
  for (const auto& text : input.texts) {
    if (text.size() > kReferenceMaxText) continue;
    if (Run(*matcher, text) != reference.Match(text, mask_engine::CursorAutomaton::kMaxCount)) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Input input = Split(std::string_view(reinterpret_cast<const char*>(data), size));
  CompareCanonicalForms(input);
  MatchEverything(input);
  if (input.masks.size() <= 64) CompareWithReference(input);
  return 0;
}
