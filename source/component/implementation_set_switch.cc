#include "source/component/implementation_set_switch.h"

#include <algorithm>

#include "orv/rtl/error_handling/exceptions.h"
#include "orv/trace/trace_stream.h"

namespace dnt {

bool SameObject(orv::IObject* a, orv::IObject* b) noexcept {
  if (a == b) return true;
  if (!a || !b) return false;
  orv::ComPtr<orv::IObject> identityA;
  orv::ComPtr<orv::IObject> identityB;
  if (orv::Failed(a->QueryInterface(orv::IObject::iid, identityA.PutVoid()))) return false;
  if (orv::Failed(b->QueryInterface(orv::IObject::iid, identityB.PutVoid()))) return false;
  return identityA == identityB;
}

ImplementationSetSwitch::ImplementationSetSwitch(orv::ITracer* tracer,
                                                 const std::vector<orv::ComPtr<orv::IObject>>& objects,
                                                 orv::IObject* toProcessLast)
    : m_tracer(tracer) {
  if (orv::TraceStream line{tracer, orv::trace_level::Routine}) {
    line << "ImplementationSetSwitch(): objects.size() = " << objects.size();
  }
  m_objects.reserve(objects.size());
  std::size_t last = objects.size();
  for (std::size_t i = 0; i < objects.size(); ++i) {
    orv::ComPtr<ISwitchableImplementation> switchable;
    const orv::result_t r =
        objects[i] ? objects[i]->QueryInterface(ISwitchableImplementation::iid, switchable.PutVoid())
                   : orv::result::InvalidArgument;
    if (orv::Failed(r) || !switchable) {
      throw orv::CheckResultFailedException("service_component_facade", 92,
                                            orv::Failed(r) ? r : orv::result::Unexpected);
    }
    if (last == objects.size() && toProcessLast && SameObject(objects[i].Get(), toProcessLast)) last = i;
    m_objects.push_back(std::move(switchable));
  }
  if (last != objects.size()) {
    std::rotate(m_objects.begin() + static_cast<std::ptrdiff_t>(last),
                m_objects.begin() + static_cast<std::ptrdiff_t>(last) + 1, m_objects.end());
    if (orv::TraceStream line{tracer, orv::trace_level::Routine}) {
      line << "ImplementationSetSwitch(): toProcessLast moved to the end";
    }
  }
  m_localStorages.reserve(m_objects.size());
}

ImplementationSetSwitch::~ImplementationSetSwitch() = default;

orv::result_t ImplementationSetSwitch::Prepare(orv::IObject* newImplementation) {
  for (const auto& object : m_objects) {
    orv::ComPtr<orv::IObject> localStorage;
    const orv::result_t r = object->PrepareSwitchTo(newImplementation, localStorage.Put());
    if (orv::Failed(r)) {
      Rollback();
      return r;
    }
    m_localStorages.push_back(std::move(localStorage));  // room reserved: cannot throw
  }
  return orv::result::NoError;
}

void ImplementationSetSwitch::Commit() noexcept { Finish(true); }

void ImplementationSetSwitch::Rollback() noexcept { Finish(false); }

void ImplementationSetSwitch::Finish(bool commit) noexcept {
  for (std::size_t i = 0; i < m_localStorages.size(); ++i) {
    orv::IObject* localStorage = m_localStorages[i].Get();
    const orv::result_t r =
        commit ? m_objects[i]->CommitSwitch(localStorage) : m_objects[i]->RollbackSwitch(localStorage);
    if (orv::Failed(r)) {
      if (orv::TraceStream line{m_tracer.Get(), orv::trace_level::Failure}) {
        line << "ImplementationSetSwitch: " << (commit ? "CommitSwitch" : "RollbackSwitch") << " of "
             << static_cast<void*>(m_objects[i].Get()) << " failed; result = " << orv::hex << r;
      }
    }
  }
  m_localStorages.clear();
  m_objects.clear();
}

}  // namespace dnt
