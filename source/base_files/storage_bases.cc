#include "do_not_track/util/storage_bases.h"

#include <string>

#include "orv/rtl/error_handling/exceptions.h"
#include "orv/system/files.h"
#include "orv/text/utf.h"

namespace dnt {
namespace {

constexpr const char* StorageLocation = "storage_bases";
constexpr char16_t RootDirectory[] = u"/";

bool IsScriptFileName(const std::u16string& name) {
  return orv::system::MatchesMask(orv::text::ToUtf8(name), ScriptFileMask);
}

orv::ComPtr<orv::IPackedIOFactory> GetPackedIOFactory(orv::IServiceLocator* locator) {
  orv::ComPtr<orv::IPackedIOFactory> factory;
  const orv::result_t code = orv::GetService(locator, factory);
  if (orv::Failed(code) || !factory) {
    throw orv::CheckResultFailedException("service_component_facade", __LINE__,
                                          orv::Failed(code) ? code : orv::result::NotFound,
                                          u"Faild to get packed io factory");
  }
  return factory;
}

}  // namespace

orv::ComPtr<orv::IIO> OpenStorageBasedFile(orv::IPackedIOFactory* factory, orv::IDataStorage* storage,
                                           std::u16string_view name) {
  const std::u16string nameText(name);
  orv::ComPtr<orv::IIO> packed;
  orv::result_t code = storage->Open(nameText.c_str(), 0, packed.Put());
  if (orv::Failed(code) || !packed) {
    throw orv::CheckResultFailedException(StorageLocation, __LINE__, orv::Failed(code) ? code : orv::result::NotFound,
                                          u"Failed to open storage-based file " + nameText);
  }
  orv::ComPtr<orv::IIO> unpacked;
  code = factory->CreateUnpackedIO(packed.Get(), unpacked.Put());
  if (orv::Failed(code) || !unpacked) {
    throw orv::CheckResultFailedException(StorageLocation, __LINE__, orv::Failed(code) ? code : orv::result::NotFound,
                                          u"Failed to create unpacked io for storage-based file " + nameText);
  }
  return unpacked;
}

void CollectStorageBaseFiles(orv::IServiceLocator* locator, orv::IDataStorage* storage, BaseFiles& files) {
  const orv::ComPtr<orv::IPackedIOFactory> factory = GetPackedIOFactory(locator);
  files = BaseFiles{};
  std::vector<orv::StorageEntry> entries;
  const orv::result_t code = storage->EnumerateDirectory(RootDirectory, &entries);
  if (orv::Failed(code)) {
    throw orv::CheckResultFailedException(StorageLocation, __LINE__, code, u"Failed to enumerate data storage");
  }
  for (const orv::StorageEntry& entry : entries) {
    // A directory is never a script file, whatever its name; opening one
    // would fail the whole collection.
    if (!entry.isDirectory && IsScriptFileName(entry.name)) {
      files.scriptStreams.push_back(OpenStorageBasedFile(factory.Get(), storage, entry.name));
    }
  }
  files.bugStream = OpenStorageBasedFile(factory.Get(), storage, orv::text::Widen(BugFileName));
}

}  // namespace dnt
