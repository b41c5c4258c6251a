// The object model: every interface starts with AddRef, Release and
// QueryInterface; objects are reference counted and reached by interface id.
#pragma once

#include <cstdint>

#include "orv/result.h"

namespace orv {

/// Base interface of every object (id 0).
class IObject {
 public:
  static constexpr iid_t iid = 0;
  /// Adds a reference; returns the new count.
  virtual uint32_t AddRef() = 0;
  /// Drops a reference; returns the new count. At 0 the object is destroyed.
  virtual uint32_t Release() = 0;
  /// On success `*out` holds the interface with one added reference; for an
  /// unknown id `*out` is null and the result is InterfaceNotSupported.
  virtual result_t QueryInterface(iid_t iid, void** out) = 0;

 protected:
  ~IObject() = default;
};

class IServiceLocator;

/// The factory handed out by orvGetObjectFactory.
class IObjectFactory : public IObject {
 public:
  static constexpr iid_t iid = 0x80077a33;
  /// Creates the service component and returns its interface `iid`.
  virtual result_t CreateInstance(IServiceLocator* locator, iid_t iid, void** out) = 0;

 protected:
  ~IObjectFactory() = default;
};

/// A weak reference: answers only IObject from QueryInterface; Lock gives a
/// strong reference while the target lives and InvalidState afterwards.
class IWeakReference : public IObject {
 public:
  virtual result_t Lock(iid_t iid, void** out) = 0;

 protected:
  ~IWeakReference() = default;
};

/// Hands out an object's weak reference.
class IWeakReferenceSource : public IObject {
 public:
  static constexpr iid_t iid = 0xdb7cef5e;
  virtual result_t GetWeakReference(IWeakReference** out) = 0;

 protected:
  ~IWeakReferenceSource() = default;
};

/// Class id of the service component, the only class the module exports.
inline constexpr clsid_t ServiceComponentClassId = 0x08c5520d;

}  // namespace orv

extern "C" {
/// Returns the object factory for `clsid` (only ServiceComponentClassId).
orv::result_t orvGetObjectFactory(orv::IServiceLocator* locator, orv::clsid_t clsid, orv::IObjectFactory** out);
/// 0 when the module may be unloaded (no live object), 1 otherwise.
orv::result_t orvCanUnloadModule();
}
