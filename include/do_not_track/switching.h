// Replacing an implementation while it serves: the two-phase switch that the
// service component and the DNT services take part in, and the weak set of
// objects that switch together.
#pragma once

#include <vector>

#include "orv/com_ptr.h"
#include "orv/object.h"

namespace dnt {

/// An object that can move to a new implementation in two phases. The local
/// storage that PrepareSwitchTo hands out is opaque to the caller; it goes
/// back unchanged to exactly one of CommitSwitch or RollbackSwitch.
class ISwitchableImplementation : public orv::IObject {
 public:
  static constexpr orv::iid_t iid = 0x291DEB25;
  virtual orv::result_t PrepareSwitchTo(orv::IObject* newImplementation, orv::IObject** localStorage) = 0;
  virtual orv::result_t CommitSwitch(orv::IObject* localStorage) = 0;
  virtual orv::result_t RollbackSwitch(orv::IObject* localStorage) = 0;

 protected:
  ~ISwitchableImplementation() = default;
};

/// A front object that hands out the implementation behind it.
class IRawImplementationSource : public orv::IObject {
 public:
  static constexpr orv::iid_t iid = 0xD3E2BF5C;
  virtual orv::result_t GetRawImplementation(orv::iid_t iid, void** out) = 0;

 protected:
  ~IRawImplementationSource() = default;
};

/// An implementation that can build its successor on a new implementation.
class IUpdatableImplementation : public orv::IObject {
 public:
  static constexpr orv::iid_t iid = 0x0FC404CD;
  virtual orv::result_t GetUpdatedImplementation(orv::IObject* newImplementation, orv::iid_t iid,
                                                 void** out) = 0;

 protected:
  ~IUpdatableImplementation() = default;
};

/// A set of weak references to the objects that switch together.
class IWeakReferenceSet : public orv::IObject {
 public:
  /// Interface id assigned by this SDK (the host framework leaves it open).
  static constexpr orv::iid_t iid = 0x10a1e007;
  /// Registers `reference` once; inserting it again changes nothing.
  virtual orv::result_t Insert(orv::IWeakReference* reference) = 0;
  /// NotFound (0x8000004c) when `reference` is not registered.
  virtual orv::result_t Remove(orv::IWeakReference* reference) = 0;
  /// Strong references to the objects still alive, in registration order;
  /// forgets the dead ones. Replaces `*objects`.
  virtual orv::result_t Lock(std::vector<orv::ComPtr<orv::IObject>>* objects) = 0;

 protected:
  ~IWeakReferenceSet() = default;
};

/// Gives the set of objects that switch with this one.
class IUpdatableSetSource : public orv::IObject {
 public:
  static constexpr orv::iid_t iid = 0x2DF3CDBA;
  /// The set with one reference, or null before the component is verified.
  virtual orv::result_t GetUpdatableSet(IWeakReferenceSet** out) = 0;

 protected:
  ~IUpdatableSetSource() = default;
};

}  // namespace dnt
