#include "tools/dntbases/bug_bases_file.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <vector>

#include "do_not_track/dnt_engine/bug_bases_loader.h"
#include "host/capturing_tracer.h"
#include "host/memory_io.h"
#include "orv/rtl/error_handling/result_text.h"
#include "orv/rtl/error_handling/translate.h"
#include "orv/system/files.h"
#include "squeeze/container_reader.h"
#include "squeeze/whole_file.h"

namespace dntbases {

namespace {

std::string FailureLines(orv::ITracer* tracer) {
  std::string text;
  if (auto* keeper = dynamic_cast<host::CapturingTracer*>(tracer)) {
    for (const std::string& line : keeper->Texts(orv::trace_level::Failure)) {
      if (!text.empty()) text += '\n';
      text += line;
    }
  }
  return text;
}

bool IsPackedContainer(const std::vector<uint8_t>& bytes) {
  return bytes.size() >= 4 && bytes[0] == 'S' && bytes[1] == 'Q' && bytes[2] == 'Z' && bytes[3] == 'E';
}

}  // namespace

std::vector<uint8_t> ReadBugBasesBytes(const std::string& path) {
  std::error_code ignored;
  // A bases directory stands for the bug database inside it.
  const std::string file =
      std::filesystem::is_directory(path, ignored) ? orv::system::JoinPath(path, "dntbugs.dat") : path;
  std::vector<uint8_t> bytes = squeeze::ReadWholeFile(file);
  if (IsPackedContainer(bytes)) bytes = squeeze::UnpackContainer(bytes);
  return bytes;
}

orv::ComPtr<orv::ITracer> MakeToolTracer(bool trace) {
  if (trace) return host::MakeHostObject<host::StreamTracer>(stderr);
  return host::MakeHostObject<host::CapturingTracer>(orv::trace_level::Failure);
}

std::unique_ptr<dnt::BugBases> LoadBugBasesFile(const std::string& path, const orv::ComPtr<orv::ITracer>& tracer) {
  std::vector<uint8_t> bytes = ReadBugBasesBytes(path);

  auto bases = std::make_unique<dnt::BugBases>(tracer);
  const auto stream = host::MakeHostObject<host::MemoryIO>(std::move(bytes));
  const orv::result_t result = dnt::BugBasesLoader::Load(*bases, stream.Get());
  if (orv::Failed(result)) {
    std::string text = FailureLines(tracer.Get());
    if (text.empty()) text = "Failed to load bug bases: " + orv::DescribeResultCode(result);
    throw std::runtime_error(text);
  }
  return bases;
}

std::string CurrentErrorText() {
  const auto keeper = host::MakeHostObject<host::CapturingTracer>(orv::trace_level::Failure);
  orv::TranslateCurrentException(keeper.Get(), nullptr);
  const std::vector<std::string> lines = keeper->Texts(orv::trace_level::Failure);
  return lines.empty() ? std::string() : lines.front();
}

int ExitStatusOf(const std::function<int()>& body, std::string_view prefix) {
  try {
    return body();
  } catch (const std::exception& e) {
    std::cerr << prefix << e.what() << '\n';
    return 1;
  }
}

void PrintJson(const nlohmann::json& value, int indent) {
  std::cout << value.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

}  // namespace dntbases
