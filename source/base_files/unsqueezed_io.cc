// The IIO a bases loader reads an unpacked disk file through.
#include <atomic>
#include <exception>
#include <limits>
#include <memory>
#include <utility>

#include "do_not_track/util/base_files.h"
#include "orv/rtl/module_count.h"

namespace dnt {
namespace {

class UnsqueezedIO final : public orv::IIO {
 public:
  explicit UnsqueezedIO(std::shared_ptr<squeeze::UnsqueezedReadableFile> file) : m_file(std::move(file)) {}
  UnsqueezedIO(const UnsqueezedIO&) = delete;
  UnsqueezedIO& operator=(const UnsqueezedIO&) = delete;

  uint32_t AddRef() override { return m_refs.fetch_add(1) + 1; }

  uint32_t Release() override {
    const uint32_t n = m_refs.fetch_sub(1) - 1;
    if (n == 0) delete this;
    return n;
  }

  orv::result_t QueryInterface(orv::iid_t iid, void** out) override {
    if (!out) return orv::result::InvalidArgument;
    if (iid != orv::IObject::iid && iid != orv::IIO::iid) {
      *out = nullptr;
      return orv::result::InterfaceNotSupported;
    }
    AddRef();
    *out = static_cast<orv::IIO*>(this);
    return orv::result::NoError;
  }

  orv::result_t Read(void* destination, uint32_t size, uint32_t* read) override {
    if (read) *read = 0;
    if (!destination && size != 0) return orv::result::InvalidArgument;
    try {
      const std::size_t copied = m_file->Read(destination, size);
      if (read) *read = static_cast<uint32_t>(copied);
      return orv::result::NoError;
    } catch (...) {
      return orv::result::UnspecifiedError;
    }
  }

  orv::result_t Seek(uint32_t origin, int64_t offset, uint64_t* newPosition) override {
    if (origin != orv::seek_origin::Begin) return orv::result::NotImplemented;
    // A negative offset from the start names no position; taken as unsigned
    // it would silently park the stream far past its end.
    if (offset < 0) return orv::result::InvalidArgument;
    const uint64_t position = m_file->Seek(static_cast<uint64_t>(offset));
    if (newPosition) *newPosition = position;
    return orv::result::NoError;
  }

  orv::result_t GetSize(uint64_t* size) override {
    if (!size) return orv::result::InvalidArgument;
    *size = m_file->Size();
    return orv::result::NoError;
  }

  orv::result_t Write(const void*, uint32_t, uint32_t*) override { return orv::result::NotImplemented; }
  orv::result_t SetSize(uint64_t) override { return orv::result::NotImplemented; }
  orv::result_t Flush() override { return orv::result::NotImplemented; }

 private:
  ~UnsqueezedIO() = default;

  orv::module::ObjectCounter m_objectCounter;
  std::atomic<uint32_t> m_refs{1};
  std::shared_ptr<squeeze::UnsqueezedReadableFile> m_file;
};

}  // namespace

orv::ComPtr<orv::IIO> CreateUnsqueezedIO(std::shared_ptr<squeeze::UnsqueezedReadableFile> file) {
  return orv::ComPtr<orv::IIO>::Attach(new UnsqueezedIO(std::move(file)));
}

}  // namespace dnt
