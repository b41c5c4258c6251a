#include "mask_engine/cursor_pool.h"

namespace mask_engine {

void CursorList::PushBack(Cursor* c) { InsertBefore(nullptr, c); }

void CursorList::InsertBefore(Cursor* position, Cursor* c) {
  c->next = position;
  c->prev = position ? position->prev : m_tail;
  if (c->prev) {
    c->prev->next = c;
  } else {
    m_head = c;
  }
  if (position) {
    position->prev = c;
  } else {
    m_tail = c;
  }
}

void CursorList::Remove(Cursor* c) {
  if (c->prev) {
    c->prev->next = c->next;
  } else {
    m_head = c->next;
  }
  if (c->next) {
    c->next->prev = c->prev;
  } else {
    m_tail = c->prev;
  }
  c->prev = c->next = nullptr;
}

void CursorList::Splice(CursorList& other) {
  if (other.Empty()) return;
  if (Empty()) {
    m_head = other.m_head;
  } else {
    m_tail->next = other.m_head;
    other.m_head->prev = m_tail;
  }
  m_tail = other.m_tail;
  other.m_head = other.m_tail = nullptr;
}

Cursor* CursorList::TakeAll() {
  Cursor* first = m_head;
  m_head = m_tail = nullptr;
  return first;
}

CursorPool::CursorPool(size_t initial) { AddBlock(initial > 0 ? initial : 1); }

void CursorPool::AddBlock(size_t count) {
  m_blocks.push_back(std::make_unique<Cursor[]>(count));
  Cursor* block = m_blocks.back().get();
  for (size_t i = 0; i < count; ++i) Release(&block[i]);
  m_capacity += count;
}

// Doubling keeps the number of blocks logarithmic in the peak demand.
void CursorPool::Grow() { AddBlock(m_capacity); }

void CursorPool::ReleaseChain(Cursor* first) {
  while (first) {
    Cursor* next = first->next;
    Release(first);
    first = next;
  }
}

}  // namespace mask_engine
