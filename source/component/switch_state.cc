#include "source/component/switch_state.h"

namespace dnt {

SwitchLocalStorage::SwitchLocalStorage(orv::IObject* newImplementation) {
  orv::ComPtr<orv::IWeakReferenceSource> source;
  if (orv::Succeeded(newImplementation->QueryInterface(orv::IWeakReferenceSource::iid, source.PutVoid())) && source &&
      orv::Succeeded(source->GetWeakReference(m_weakImplementation.Put())) && m_weakImplementation) {
    return;
  }
  m_weakImplementation.Reset();
  m_strongImplementation = orv::ComPtr<orv::IObject>(newImplementation);
}

orv::ComPtr<orv::IObject> SwitchLocalStorage::NewImplementation() const {
  if (!m_weakImplementation) return m_strongImplementation;
  orv::ComPtr<orv::IObject> object;
  if (orv::Failed(m_weakImplementation->Lock(orv::IObject::iid, object.PutVoid()))) object.Reset();
  return object;
}

void SwitchLocalStorage::Seal(orv::ComPtr<Engine> engine) {
  if (!engine) return;
  engine->SealForSwitch();
  m_sealed = std::move(engine);
}

void SwitchLocalStorage::EndSeal(bool committed) noexcept {
  if (const orv::ComPtr<Engine> engine = std::move(m_sealed)) {
    engine->EndSwitch(committed ? serviceProvider : nullptr);
  }
}

}  // namespace dnt
