// Domain and URL masks compiled into one automaton, and matching of URLs
// against all of them in a single pass.
//
// Mask syntax: '*' matches any run of bytes (none included), '?' exactly one
// byte, '\' makes the next byte literal. A mask without '/' is a host mask;
// '*.site.test' also matches 'site.test' itself. Matching brings the URL into
// a canonical form first (lowercase, "www." dropped, percent escapes decoded,
// bytes outside printable ASCII written as "%u00hh").
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace mask_engine {

/// Outcome of MaskEngine::AddMask.
struct AddMaskResult {
  uint32_t index;  ///< index of the mask, or 0xFFFFFFFF when nothing was added
  uint8_t added;   ///< 1 when the mask was stored, 0 for an empty mask
};

/// One reported mask: its text exactly as added, its length and its index.
struct MaskMatch {
  const char* mask;
  uint32_t length;
  uint64_t index;
};

/// Size figures of a mask engine, for diagnostics.
struct MaskEngineStats {
  uint64_t masks = 0;        ///< masks added (empty ones excluded)
  uint64_t keys = 0;         ///< distinct keys compiled
  uint64_t indexedKeys = 0;  ///< keys in the literal index; the others are in the layout
  uint64_t layoutBytes = 0;  ///< bytes of the automaton's layout
  uint64_t indexBytes = 0;   ///< bytes of the literal index and its filter
};

/// How a finalized engine finds its matches. Both report the same matches;
/// the automaton alone is the reference definition that the index is held
/// against.
enum class MatchMethod {
  kIndexed,        ///< literal index, the automaton only for what it cannot answer
  kAutomatonOnly,  ///< every key in the automaton
};

/// What matching reuses from call to call: canonical text, cursors, results.
/// Use one per thread (or per script host); it may serve any number of
/// engines and keeps no pointer into any of them between calls, so it may
/// outlive them. Matching the same text against several engines in a row
/// brings it into canonical form once.
class MatchScratch {
 public:
  MatchScratch();
  ~MatchScratch();
  MatchScratch(const MatchScratch&) = delete;
  MatchScratch& operator=(const MatchScratch&) = delete;

  /// The engine's working state, opaque outside it.
  struct State;
  State& Get() { return *m_state; }

 private:
  std::unique_ptr<State> m_state;
};

/// Matches texts against the masks of one finalized engine, reporting masks
/// in ascending index order. Not thread-safe: use one matcher per thread;
/// any number may share an engine.
class MaskMatcher {
 public:
  /// Returns one record per route on which a mask matches `text`; a mask may
  /// appear more than once. The reference stays valid until the next Match on
  /// this matcher or its destruction.
  virtual const std::vector<MaskMatch>& Match(const char* text, uint32_t length) = 0;
  virtual ~MaskMatcher();
};

/// Collects masks, compiles them once, and hands out matchers.
class MaskEngine {
 public:
  /// A fresh engine that accepts masks.
  static std::shared_ptr<MaskEngine> Create(MatchMethod method = MatchMethod::kIndexed);

  /// Stores a mask and returns its index (0, 1, 2 ...; repeats get new ones).
  /// An empty mask returns {0xFFFFFFFF, 0}. Throws std::runtime_error
  /// "the mask engine is finalized" after Finalize.
  virtual AddMaskResult AddMask(const char* text, uint32_t length) = 0;

  /// Compiles every mask into the automaton; call once after the last add.
  /// Throws std::out_of_range "node_layout::set_tag_cnt()" when one trie node
  /// would get more than 255 literal children.
  virtual void Finalize() = 0;

  /// A matcher over the compiled masks; one made before Finalize matches
  /// nothing. The matcher keeps the engine alive.
  virtual std::shared_ptr<MaskMatcher> CreateMatcher() const = 0;

  /// The masks that match `text`, as MaskMatcher::Match reports them, using
  /// `scratch` instead of a matcher: nothing is allocated once the scratch
  /// is warm. The result lives in `scratch` until its next use and points
  /// into this engine. Before Finalize nothing matches. Safe to call from
  /// any number of threads at once, each with its own scratch.
  virtual const std::vector<MaskMatch>& Match(const char* text, uint32_t length, MatchScratch& scratch) const = 0;

  virtual ~MaskEngine();

  /// Mask count, key count and layout size (keys and layout after Finalize).
  virtual MaskEngineStats Stats() const = 0;
};

}  // namespace mask_engine
