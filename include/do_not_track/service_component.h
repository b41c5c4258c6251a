// The service component: the object a host creates through the module's
// factory (class id orv::ServiceComponentClassId), verifies on its bases and
// keeps for the life of the engine.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "do_not_track/service_settings.h"
#include "do_not_track/session.h"
#include "do_not_track/switching.h"
#include "orv/data_storage.h"
#include "orv/object.h"

namespace dnt {

/// Creates the DNT service (a processor factory) with the host's settings.
class IDntServiceProvider : public orv::IObject {
 public:
  static constexpr orv::iid_t iid = 0xE52A41C1;
  /// Settings that repeat a category or a service id are refused.
  virtual orv::result_t CreateDntService(const ServiceSettings* settings, IProcessorFactory** out) = 0;

 protected:
  ~IDntServiceProvider() = default;
};

/// A tracking service the bases know.
struct SupportedTrackingService {
  std::u16string name;
  uint32_t id = 0;
  uint32_t category = 0;
};

/// Questions about the loaded bases.
class IDntBasesInfo : public orv::IObject {
 public:
  static constexpr orv::iid_t iid = 0x4C344F6F;
  /// The component answers this id with the same interface.
  static constexpr orv::iid_t alternateIid = 0x52354134;
  /// The services of `category`, in ascending id order. Replaces `*services`.
  virtual orv::result_t GetSupportedTrackingServices(uint32_t category,
                                                     std::vector<SupportedTrackingService>* services) = 0;
  /// Replaces `*sites` with the partner site masks.
  virtual orv::result_t GetPartnerSites(std::vector<std::u16string>* sites) = 0;
  /// Replaces `*sites` with the incompatible site masks.
  virtual orv::result_t GetIncompatibleSites(std::vector<std::u16string>* sites) = 0;
  /// category::PartnerSite, category::IncompatibleSite or 0 for the URL or
  /// host `site` (UTF-8).
  virtual orv::result_t GetSiteCategory(std::string_view site, uint32_t* category) = 0;

 protected:
  ~IDntBasesInfo() = default;
};

/// The product version and the interface revision.
struct ComponentVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  uint32_t revision = 0;
  uint32_t internal = 0;
};

class IComponentVersion : public orv::IObject {
 public:
  static constexpr orv::iid_t iid = 0x23CFA0D4;
  virtual orv::result_t GetVersion(ComponentVersion* version) = 0;

 protected:
  ~IComponentVersion() = default;
};

/// Start-up: Verify loads the bases (and, given the instance this one
/// replaces, prepares the switch from it); Init completes that switch.
class IComponentInit : public orv::IObject {
 public:
  static constexpr orv::iid_t iid = 0xA04E6DB0;
  virtual orv::result_t Verify(orv::IObject* previousInstance) = 0;
  virtual orv::result_t Init(orv::IObject* previousInstance) = 0;

 protected:
  ~IComponentInit() = default;
};

/// Bases update in place, from the bases directory.
class IBasesUpdateHandler : public orv::IObject {
 public:
  static constexpr orv::iid_t iid = 0xFF89859B;
  /// Loads the new bases and keeps them pending.
  virtual orv::result_t VerifyBasesUpdate() = 0;
  /// Installs the pending bases.
  virtual orv::result_t HandleBasesUpdate() = 0;
  /// Drops the pending bases, if any.
  virtual orv::result_t RollbackUpdate() = 0;

 protected:
  ~IBasesUpdateHandler() = default;
};

/// Bases update in place, from a host storage (null: the bases directory).
class IBasesUpdateHandler2 : public orv::IObject {
 public:
  static constexpr orv::iid_t iid = 0x08D05DD5;
  virtual orv::result_t VerifyBasesUpdate(orv::IDataStorage* storage) = 0;
  virtual orv::result_t HandleBasesUpdate() = 0;

 protected:
  ~IBasesUpdateHandler2() = default;
};

/// Takes the host storage the bases are read from (instead of the bases
/// directory); called before Verify.
class IStorageConsumer : public orv::IObject {
 public:
  static constexpr orv::iid_t iid = 0x9D8A55FB;
  virtual orv::result_t SetStorage(orv::IDataStorage* storage) = 0;

 protected:
  ~IStorageConsumer() = default;
};

}  // namespace dnt
