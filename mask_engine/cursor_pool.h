// Cursors of the matching automaton, the intrusive lists they live on, and
// the pool they come from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace mask_engine {

struct Cursor {
  Cursor* prev;
  Cursor* next;
  const uint8_t* node;       // branch or label node
  const uint8_t* labelPos;   // next label byte, when on a label node
  const uint8_t* labelEnd;   // past the last label byte
  int32_t count;             // routes that reached this state, saturated
};

class CursorList {
 public:
  bool Empty() const { return m_head == nullptr; }
  Cursor* Head() const { return m_head; }

  void PushBack(Cursor* c);
  void InsertBefore(Cursor* position, Cursor* c);  // position nullptr: at the end
  void Remove(Cursor* c);
  /// Moves every cursor of `other` to the end of this list.
  void Splice(CursorList& other);
  /// Empties the list; the cursors are left to the caller.
  Cursor* TakeAll();

 private:
  Cursor* m_head = nullptr;
  Cursor* m_tail = nullptr;
};

/// Cursors made in blocks. The pool starts with a fixed number and grows
/// when it runs dry, keeping what it grew to, so a warm matcher does not
/// allocate while matching.
class CursorPool {
 public:
  explicit CursorPool(size_t initial);
  CursorPool(const CursorPool&) = delete;
  CursorPool& operator=(const CursorPool&) = delete;

  Cursor* Take() {
    if (m_free == nullptr) Grow();
    Cursor* c = m_free;
    m_free = c->next;
    return c;
  }
  void Release(Cursor* c) {
    c->next = m_free;
    m_free = c;
  }
  /// Returns a chain linked through `next` to the pool.
  void ReleaseChain(Cursor* first);

  size_t Capacity() const { return m_capacity; }

 private:
  void AddBlock(size_t count);
  void Grow();

  std::vector<std::unique_ptr<Cursor[]>> m_blocks;
  Cursor* m_free = nullptr;
  size_t m_capacity = 0;
};

}  // namespace mask_engine
