#include "do_not_track/util/enum_files_orv.h"

#include "orv/rtl/error_handling/exceptions.h"
#include "orv/rtl/error_handling/result_text.h"
#include "orv/system/files.h"

namespace dnt {

std::vector<std::string> EnumerateFiles(const std::string& directory, std::string_view mask) {
  std::vector<std::string> paths;
  const uint32_t error = orv::system::EnumerateFiles(directory, mask, paths);
  if (error != orv::system::file_error::None) {
    throw orv::CheckResultFailedException("enum_files_orv", __LINE__, orv::Win32ErrorToResult(error));
  }
  return paths;
}

}  // namespace dnt
