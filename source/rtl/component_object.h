// Component objects: objects created for the host, whose memory comes from the
// host's allocator and whose strong count lives in their weak reference.
#pragma once

#include <new>

#include "orv/allocator.h"
#include "orv/com_ptr.h"
#include "orv/rtl/component_services.h"
#include "orv/rtl/error_handling/exceptions.h"
#include "orv/rtl/error_handling/translate.h"
#include "orv/rtl/module_count.h"
#include "orv/trace/trace_stream.h"
#include "source/rtl/weak_impl.h"

namespace dnt::rtl {

/// Base of a component object implementing `Interfaces...` and
/// IWeakReferenceSource. Derived supplies `void* FindInterface(iid_t)` for its
/// own interfaces and may hide FinalConstruct / FinalRelease.
template <class Derived, class... Interfaces>
class ComponentObject : public Interfaces..., public orv::IWeakReferenceSource {
 public:
  explicit ComponentObject(orv::IServiceLocator* locator) : m_services(locator) {}
  ComponentObject(const ComponentObject&) = delete;
  ComponentObject& operator=(const ComponentObject&) = delete;

  uint32_t AddRef() final { return m_weak->AddStrong(); }

  uint32_t Release() final {
    uint32_t n = m_weak->ReleaseStrong();
    if (n == 0 && m_weak->Detach()) Destroy();
    return n;
  }

  orv::result_t QueryInterface(orv::iid_t iid, void** out) final {
    if (!out) return orv::result::InvalidArgument;
    void* found = iid == orv::IWeakReferenceSource::iid ? static_cast<orv::IWeakReferenceSource*>(this)
                                                         : static_cast<Derived*>(this)->FindInterface(iid);
    if (!found) {
      *out = nullptr;
      return orv::result::InterfaceNotSupported;
    }
    AddRef();
    *out = found;
    return orv::result::NoError;
  }

  orv::result_t GetWeakReference(orv::IWeakReference** out) final {
    if (!out) return orv::result::InvalidArgument;
    m_weak->AddRef();
    *out = m_weak;
    return orv::result::NoError;
  }

  /// Second construction phase; a failure code destroys the object.
  orv::result_t FinalConstruct() { return orv::result::NoError; }
  /// Runs before the destructor, also after a failed FinalConstruct. It may
  /// take and drop references to the object (a ComPtr to `this` to
  /// unregister it somewhere); weak references no longer lock it.
  void FinalRelease() {}

  const orv::ComponentServices& Services() const noexcept { return m_services; }
  orv::ITracer* Tracer() const noexcept { return m_services.tracer.Get(); }
  orv::IServiceLocator* Locator() const noexcept { return m_services.locator.Get(); }

 protected:
  ~ComponentObject() {
    if (m_weak) m_weak->Release();
  }

  /// The object's own weak reference, without a new reference.
  orv::IWeakReference* OwnWeakReference() const noexcept { return m_weak; }

 private:
  template <class T>
  friend orv::result_t CreateComponentInstance(orv::IServiceLocator*, orv::iid_t, void**);
  template <class T, class... Args>
  friend orv::ComPtr<T> MakeComponent(orv::IServiceLocator*, Args&&...);

  void LinkWeakReference(WeakReferenceImpl* weak) noexcept {
    weak->AddRef();
    m_weak = weak;
    weak->Attach(this);
  }

  void Destroy() noexcept {
    // The allocator must outlive the destructor that releases our reference.
    orv::IAllocator* allocator = m_services.allocator.Get();
    allocator->AddRef();
    auto* self = static_cast<Derived*>(this);
    self->FinalRelease();
    self->~Derived();
    allocator->Free(self);
    allocator->Release();
    orv::module::RemoveObject();
  }

  orv::ComponentServices m_services;
  WeakReferenceImpl* m_weak = nullptr;
};

/// Writes "[0x<address>]", the head of every object operation's trace line.
struct ObjectPrefix {
  const void* object;
};
inline orv::TraceStream& operator<<(orv::TraceStream& line, ObjectPrefix prefix) noexcept {
  return line << '[' << prefix.object << ']';
}

/// Call inside a catch-all handler while an object is being built: traces the
/// failure through the locator's tracer, when it has one, and returns its code.
inline orv::result_t TranslateConstructionFailure(orv::IServiceLocator* locator) noexcept {
  orv::ComPtr<orv::ITracer> tracer;
  if (locator && orv::Failed(locator->GetInterface(orv::ITracer::iid, 0, tracer.PutVoid()))) tracer.Reset();
  return orv::TranslateCurrentException(tracer.Get(), tracer ? "Exception during object construction: " : nullptr);
}

/// Builds a T (a ComponentObject) with `locator`, runs FinalConstruct and
/// returns its interface `iid` through `out`. Nothing survives a failure.
template <class T>
orv::result_t CreateComponentInstance(orv::IServiceLocator* locator, orv::iid_t iid, void** out) {
  using namespace orv;
  if (!out) return result::InvalidArgument;
  *out = nullptr;

  WeakReferenceImpl* weak = nullptr;
  try {
    weak = new WeakReferenceImpl();
  } catch (...) {
    return TranslateConstructionFailure(locator);
  }

  T* object = nullptr;
  try {
    ComPtr<IAllocator> allocator;
    result_t r = locator ? locator->GetInterface(IAllocator::iid, 0, allocator.PutVoid()) : result::InvalidArgument;
    if (Failed(r) || !allocator) {
      weak->Release();
      return Failed(r) ? r : result::Unexpected;
    }
    void* memory = allocator->Allocate(sizeof(T));
    if (!memory) throw std::bad_alloc();
    module::AddObject();
    try {
      object = new (memory) T(locator);
    } catch (...) {
      module::RemoveObject();
      allocator->Free(memory);
      throw;
    }
  } catch (...) {
    weak->Release();
    return TranslateConstructionFailure(locator);
  }

  object->LinkWeakReference(weak);
  result_t r = object->FinalConstruct();
  if (Failed(r)) {
    // The object took the locator's tracer at construction.
    if (TraceStream line{object->Tracer(), trace_level::Failure})
      line << "Failed to construct object; result = " << hex << r;
    object->Release();
    weak->Release();
    return r;
  }
  weak->Release();
  r = object->QueryInterface(iid, out);
  object->Release();
  return r;
}

/// Builds a T (a ComponentObject) for the component's own use: constructed
/// with `locator` and `args`, FinalConstruct run, the creation reference
/// handed to the caller. Construction failures propagate as they are; a
/// failing FinalConstruct is thrown as CheckResultFailedException with its
/// code. Nothing survives a failure.
template <class T, class... Args>
orv::ComPtr<T> MakeComponent(orv::IServiceLocator* locator, Args&&... args) {
  using namespace orv;
  ComPtr<WeakReferenceImpl> weak = ComPtr<WeakReferenceImpl>::Attach(new WeakReferenceImpl());
  ComPtr<IAllocator> allocator = RequireService<IAllocator>(locator);
  void* memory = allocator->Allocate(sizeof(T));
  if (!memory) throw std::bad_alloc();
  module::AddObject();
  T* object = nullptr;
  try {
    object = new (memory) T(locator, std::forward<Args>(args)...);
  } catch (...) {
    module::RemoveObject();
    allocator->Free(memory);
    throw;
  }
  object->LinkWeakReference(weak.Get());
  ComPtr<T> created = ComPtr<T>::Attach(object);
  const result_t r = object->FinalConstruct();
  if (Failed(r)) throw CheckResultFailedException("component_object", __LINE__, r);
  return created;
}

}  // namespace dnt::rtl
