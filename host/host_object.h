// Reference counting for the reference host's objects: plain heap objects
// that belong to the host, so they do not count as live objects of the module.
#pragma once

#include <utility>

#include "orv/com_ptr.h"
#include "orv/rtl/ref_counted.h"

namespace host {

template <class... Interfaces>
using HostObject = orv::RefCounted<Interfaces...>;

/// Creates a host object; the returned pointer owns the first reference.
template <class T, class... Args>
orv::ComPtr<T> MakeHostObject(Args&&... args) {
  return orv::ComPtr<T>::Attach(new T(std::forward<Args>(args)...));
}

}  // namespace host
