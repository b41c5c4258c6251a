// The IIO a bases loader reads an unpacked disk file through.
#include <exception>
#include <limits>
#include <memory>
#include <utility>

#include "do_not_track/util/base_files.h"
#include "orv/rtl/module_count.h"
#include "orv/rtl/ref_counted.h"

namespace dnt {
namespace {

class UnsqueezedIO final : public orv::RefCounted<orv::IIO> {
 public:
  explicit UnsqueezedIO(std::shared_ptr<squeeze::UnsqueezedReadableFile> file) : m_file(std::move(file)) {}

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
  orv::module::ObjectCounter m_counter;
  std::shared_ptr<squeeze::UnsqueezedReadableFile> m_file;
};

}  // namespace

orv::ComPtr<orv::IIO> CreateUnsqueezedIO(std::shared_ptr<squeeze::UnsqueezedReadableFile> file) {
  return orv::ComPtr<orv::IIO>::Attach(new UnsqueezedIO(std::move(file)));
}

}  // namespace dnt
