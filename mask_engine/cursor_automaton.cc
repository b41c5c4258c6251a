#include "mask_engine/cursor_automaton.h"

#include <algorithm>

#include "mask_engine/node_layout.h"

namespace mask_engine {

namespace {

int32_t SaturatingAdd(int32_t a, int32_t b) { return std::min(CursorAutomaton::kMaxCount, a + b); }

// The order of the persistent list; the step's new states are sorted by it
// too, so that one forward pass merges them.
bool StateBefore(const uint8_t* aNode, const uint8_t* aLabelPos, const uint8_t* bNode, const uint8_t* bLabelPos) {
  return aNode < bNode || (aNode == bNode && aLabelPos < bLabelPos);
}

}  // namespace

CursorAutomaton::CursorAutomaton() : m_pool(kInitialCursors) {}

inline void CursorAutomaton::Place(Cursor* c, const uint8_t* child, int32_t count) {
  c->node = child;
  if (layout::IsLabel(child)) {
    const layout::Label label(child);
    c->labelPos = label.Bytes();
    c->labelEnd = label.Bytes() + label.Length();
  } else {
    c->labelPos = c->labelEnd = nullptr;
  }
  c->count = count;
}

bool CursorAutomaton::TaggedEnd(const Cursor* c) {
  return !layout::IsLabel(c->node) && layout::Branch(c->node).HasTag();
}

uint32_t CursorAutomaton::TagOf(const Cursor* c) { return layout::Branch(c->node).Tag(); }

void CursorAutomaton::Reset(const uint8_t* root) {
  m_pool.ReleaseChain(m_transient.TakeAll());
  m_pool.ReleaseChain(m_persistent.TakeAll());
  m_pool.ReleaseChain(m_next.TakeAll());
  m_closures.clear();
  if (root == nullptr) return;
  Cursor* c = m_pool.Take();
  Place(c, root, 1);
  m_transient.PushBack(c);
  Close(c);
  MergeClosures();
}

inline bool CursorAutomaton::Consume(Cursor* c, uint8_t byte) {
  if (c->labelPos) {
    if (*c->labelPos != byte) return false;
    if (++c->labelPos == c->labelEnd) {
      c->node = layout::Label(c->node).BranchAfter();
      c->labelPos = c->labelEnd = nullptr;
    }
    return true;
  }
  const uint8_t* child = layout::Branch(c->node).FindLiteral(byte);
  if (child == nullptr) return false;
  Place(c, child, c->count);
  return true;
}

// A cursor at a branch with an any-run child also stands on that child: the
// any-run may match nothing.
void CursorAutomaton::Close(const Cursor* c) {
  if (c->labelPos || !layout::Branch(c->node).HasAnyRun()) return;
  const uint8_t* child = layout::Branch(c->node).AnyRunChild();
  const uint8_t* labelPos = layout::IsLabel(child) ? layout::Label(child).Bytes() : nullptr;
  m_closures.push_back(AnyRunEntry{child, labelPos, c->count});
}

// Sorting the step's new states first keeps the merge linear in the length
// of the persistent list, however many states a step reaches.
void CursorAutomaton::MergeClosures() {
  if (m_closures.empty()) return;
  std::sort(m_closures.begin(), m_closures.end(), [](const AnyRunEntry& a, const AnyRunEntry& b) {
    return StateBefore(a.node, a.labelPos, b.node, b.labelPos);
  });
  Cursor* at = m_persistent.Head();
  for (const AnyRunEntry& entry : m_closures) {
    while (at && StateBefore(at->node, at->labelPos, entry.node, entry.labelPos)) at = at->next;
    if (at && at->node == entry.node && at->labelPos == entry.labelPos) {
      at->count = SaturatingAdd(at->count, entry.count);
      continue;
    }
    Cursor* fresh = m_pool.Take();
    Place(fresh, entry.node, entry.count);
    m_persistent.InsertBefore(at, fresh);
    at = fresh;
  }
  m_closures.clear();
}

void CursorAutomaton::AnyCharStep(const Cursor* c) {
  if (c->labelPos || !layout::Branch(c->node).HasAnyChar()) return;
  Cursor* fresh = m_pool.Take();
  Place(fresh, layout::Branch(c->node).AnyCharChild(), c->count);
  m_next.PushBack(fresh);
}

void CursorAutomaton::Feed(uint8_t byte) {
  for (const Cursor* x = m_persistent.Head(); x; x = x->next) {
    AnyCharStep(x);
    // Most bytes fail here; step a copy on the stack and take a cursor only
    // when it lives on.
    Cursor moved = *x;
    if (Consume(&moved, byte)) {
      Cursor* copy = m_pool.Take();
      *copy = moved;
      m_next.PushBack(copy);
    }
  }
  for (Cursor* y = m_transient.Head(); y;) {
    Cursor* following = y->next;
    AnyCharStep(y);
    if (Consume(y, byte)) {
      Close(y);
    } else {
      m_transient.Remove(y);
      m_pool.Release(y);
    }
    y = following;
  }
  for (const Cursor* z = m_next.Head(); z; z = z->next) Close(z);
  m_transient.Splice(m_next);
  MergeClosures();
}

}  // namespace mask_engine
