// Runs text through a node_layout as a non-deterministic automaton.
//
// Transient cursors must consume the next byte to live on. Persistent cursors
// sit on the child of an any-run edge and absorb any number of bytes; they are
// kept sorted by state so that routes reaching the same state merge into one
// cursor with a count instead of multiplying.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mask_engine/cursor_pool.h"

namespace mask_engine {

class CursorAutomaton {
 public:
  /// Counts saturate here: a key reachable along more routes is still
  /// reported this many times at most, so hostile masks and texts cannot
  /// blow up the result.
  static constexpr int32_t kMaxCount = 16;
  static constexpr size_t kInitialCursors = 32;

  CursorAutomaton();
  CursorAutomaton(const CursorAutomaton&) = delete;
  CursorAutomaton& operator=(const CursorAutomaton&) = delete;

  /// One cursor on `root`, a layout's root branch node (none for nullptr).
  /// Cursors left from an earlier layout are dropped unread, so that layout
  /// may be gone by then.
  void Reset(const uint8_t* root);
  void Feed(uint8_t c);
  /// True when no cursor is left, so no further byte can lead to a match.
  bool Dead() const { return m_transient.Empty() && m_persistent.Empty(); }

  /// Calls `emit(tag, count)` for every cursor on a key end; transient
  /// cursors first.
  template <class Emit>
  void Report(Emit&& emit) const;

  size_t PoolCapacity() const { return m_pool.Capacity(); }

 private:
  static void Place(Cursor* c, const uint8_t* child, int32_t count);
  static inline bool Consume(Cursor* c, uint8_t byte);
  void Close(const Cursor* c);
  void MergeClosures();
  void AnyCharStep(const Cursor* c);
  static bool TaggedEnd(const Cursor* c);
  static uint32_t TagOf(const Cursor* c);

  CursorPool m_pool;
  CursorList m_transient;
  CursorList m_persistent;
  CursorList m_next;

  // Any-run states reached during one step, merged into the sorted
  // persistent list in one pass when the step ends.
  struct AnyRunEntry {
    const uint8_t* node;
    const uint8_t* labelPos;
    int32_t count;
  };
  std::vector<AnyRunEntry> m_closures;
};

template <class Emit>
void CursorAutomaton::Report(Emit&& emit) const {
  for (const CursorList* list : {&m_transient, &m_persistent}) {
    for (const Cursor* c = list->Head(); c; c = c->next) {
      if (TaggedEnd(c)) emit(TagOf(c), c->count);
    }
  }
}

}  // namespace mask_engine
