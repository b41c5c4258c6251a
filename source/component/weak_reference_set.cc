#include "source/component/weak_reference_set.h"

#include <algorithm>

#include "orv/rtl/error_handling/exceptions.h"
#include "orv/rtl/error_handling/translate.h"
#include "orv/trace/trace_stream.h"

namespace dnt {
namespace {

constexpr const char* WeakSetLocation = "weak_reference_set";

}  // namespace

WeakReferenceSet::WeakReferenceSet(orv::IServiceLocator* locator)
    : ComponentObject(locator), m_refs(HostAllocator<orv::IWeakReference*>(Services().allocator)) {}

WeakReferenceSet::~WeakReferenceSet() {
  for (orv::IWeakReference* reference : m_refs) reference->Release();
}

void* WeakReferenceSet::FindInterface(orv::iid_t iid) noexcept {
  if (iid == orv::IObject::iid || iid == IWeakReferenceSet::iid) return static_cast<IWeakReferenceSet*>(this);
  return nullptr;
}

orv::result_t WeakReferenceSet::Insert(orv::IWeakReference* reference) {
  try {
    if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
      line << rtl::ObjectPrefix{this} << "  WeakReferenceSet::Insert(): reference = " << reference;
    }
    if (!reference) return orv::result::InvalidArgument;
    orv::system::CriticalSectionLock lock(m_lock);
    const auto place = std::lower_bound(m_refs.begin(), m_refs.end(), reference);
    if (place != m_refs.end() && *place == reference) return orv::result::NoError;
    m_refs.insert(place, reference);
    reference->AddRef();
    return orv::result::NoError;
  } catch (...) {
    return orv::TranslateCurrentException(Tracer(), nullptr);
  }
}

orv::result_t WeakReferenceSet::Remove(orv::IWeakReference* reference) {
  try {
    if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
      line << rtl::ObjectPrefix{this} << "  WeakReferenceSet::Remove(): reference = " << reference;
    }
    if (!reference) return orv::result::InvalidArgument;
    {
      orv::system::CriticalSectionLock lock(m_lock);
      if (!EraseLocked(reference)) return orv::result::NotFound;
    }
    reference->Release();
    return orv::result::NoError;
  } catch (...) {
    return orv::TranslateCurrentException(Tracer(), nullptr);
  }
}

// The references are locked outside the set's lock: a host may register its
// own weak references, and a host Lock that waits for a thread calling
// Insert or Remove must not deadlock. Nothing changes unless the whole walk
// succeeds.
orv::result_t WeakReferenceSet::Lock(std::vector<orv::ComPtr<orv::IObject>>* objects) {
  try {
    if (!objects) return orv::result::InvalidArgument;
    std::vector<orv::ComPtr<orv::IWeakReference>> references;
    {
      orv::system::CriticalSectionLock lock(m_lock);
      if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
        line << rtl::ObjectPrefix{this} << "  entering WeakReferenceSet::Lock(): m_refs.size() = " << m_refs.size();
      }
      references.reserve(m_refs.size());
      for (orv::IWeakReference* reference : m_refs) references.emplace_back(reference);
    }

    std::vector<orv::ComPtr<orv::IObject>> alive;
    std::vector<orv::IWeakReference*> dead;
    alive.reserve(references.size());
    for (const auto& reference : references) {
      if (orv::TraceStream line{Tracer(), orv::trace_level::Routine}) {
        line << rtl::ObjectPrefix{this} << "  WeakReferenceSet::Lock(): " << static_cast<void*>(reference.Get());
      }
      orv::ComPtr<orv::IObject> object;
      const orv::result_t r = reference->Lock(orv::IObject::iid, object.PutVoid());
      if (r == orv::result::InvalidState) {
        dead.push_back(reference.Get());
      } else if (orv::Failed(r) || !object) {
        throw orv::CheckResultFailedException(WeakSetLocation, 98, orv::Failed(r) ? r : orv::result::Unexpected);
      } else {
        alive.push_back(std::move(object));
      }
    }
    Forget(dead);
    objects->swap(alive);
    return orv::result::NoError;
  } catch (...) {
    return orv::TranslateCurrentException(Tracer(), nullptr);
  }
}

bool WeakReferenceSet::EraseLocked(orv::IWeakReference* reference) {
  const auto place = std::lower_bound(m_refs.begin(), m_refs.end(), reference);
  if (place == m_refs.end() || *place != reference) return false;
  m_refs.erase(place);
  return true;
}

void WeakReferenceSet::Forget(const std::vector<orv::IWeakReference*>& dead) {
  std::vector<orv::IWeakReference*> released;
  released.reserve(dead.size());
  {
    orv::system::CriticalSectionLock lock(m_lock);
    for (orv::IWeakReference* reference : dead) {
      if (EraseLocked(reference)) released.push_back(reference);  // else removed meanwhile
    }
  }
  for (orv::IWeakReference* reference : released) reference->Release();
}

}  // namespace dnt
