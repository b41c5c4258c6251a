// Drives a group of switchable objects through the two phases of an
// implementation switch: all are prepared or none stays prepared, then all
// commit or all roll back.
#pragma once

#include <vector>

#include "do_not_track/switching.h"
#include "orv/com_ptr.h"
#include "orv/tracer.h"

namespace dnt {

class ImplementationSetSwitch {
 public:
  /// Every object must offer ISwitchableImplementation (else
  /// orv::CheckResultFailedException). `toProcessLast`, when it is among
  /// them, goes to the end of the processing order.
  ImplementationSetSwitch(orv::ITracer* tracer, const std::vector<orv::ComPtr<orv::IObject>>& objects,
                          orv::IObject* toProcessLast);
  ~ImplementationSetSwitch();
  ImplementationSetSwitch(const ImplementationSetSwitch&) = delete;
  ImplementationSetSwitch& operator=(const ImplementationSetSwitch&) = delete;

  /// Prepares every object in order. On a failure the objects already
  /// prepared are rolled back in the same order, the set is emptied and the
  /// failure code returned.
  orv::result_t Prepare(orv::IObject* newImplementation);
  /// Commits every prepared object, then empties the set. A commit cannot be
  /// undone, so a failing member is only traced.
  void Commit() noexcept;
  /// Rolls every prepared object back, then empties the set.
  void Rollback() noexcept;

  bool Empty() const noexcept { return m_objects.empty(); }

 private:
  void Finish(bool commit) noexcept;

  orv::ComPtr<orv::ITracer> m_tracer;
  std::vector<orv::ComPtr<ISwitchableImplementation>> m_objects;
  std::vector<orv::ComPtr<orv::IObject>> m_localStorages;
};

/// Whether `a` and `b` are interfaces of the same object (their IObject
/// answers agree).
bool SameObject(orv::IObject* a, orv::IObject* b) noexcept;

}  // namespace dnt
