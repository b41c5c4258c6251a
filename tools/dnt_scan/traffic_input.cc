#include "tools/dnt_scan/traffic_input.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "tools/dnt_scan/har_reader.h"
#include "tools/dnt_scan/json_capture.h"
#include "tools/dnt_scan/jsonl_reader.h"
#include "url_parser/special_schemes.h"

namespace dnt_scan {
namespace {

int KeepStandardInput(std::FILE*) { return 0; }

std::string Extension(const std::string& name) {
  return orv::network::AsciiLowercase(std::filesystem::path(name).extension().string());
}

// The input named after itself for the requests that name no page.
std::string DefaultPage(const std::string& name) {
  return name == "-" ? "standard input" : std::filesystem::path(name).filename().string();
}

const CaptureShape LogOnly{.members = {{"log", &LeafShape}}};

// Whether a line is one JSON object without a "log" member: a request, not
// the start of a HAR file. Nothing but "log" is built while reading it.
class RequestLineCheck final : public CapturingHandler {
 public:
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    m_request = false;
    return false;
  }
  bool IsRequest() const { return m_request; }

 private:
  bool OutsideStart(bool object) override {
    if (object) m_capture.Begin(true, LogOnly);
    return object;
  }
  void OutsideEnd() override {}
  bool OutsideScalar() override { return false; }
  void OutsideKey(const std::string&) override {}
  void Captured(nlohmann::json value) override { m_request = value.is_object() && !value.contains("log"); }

  bool m_request = false;
};

}  // namespace

ChunkedInput::ChunkedInput(std::FILE* file, Progress progress)
    : m_file(file), m_progress(std::move(progress)), m_buffer(ChunkSize) {
  setg(m_buffer.data(), m_buffer.data(), m_buffer.data());
}

ChunkedInput::int_type ChunkedInput::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  const size_t read = std::fread(m_buffer.data(), 1, m_buffer.size(), m_file);
  if (read == 0 && std::ferror(m_file)) throw InputError(std::string("cannot read the input: ") + std::strerror(errno));
  setg(m_buffer.data(), m_buffer.data(), m_buffer.data() + read);
  m_bytesRead += read;
  if (m_progress) m_progress(m_bytesRead);
  return read == 0 ? traits_type::eof() : traits_type::to_int_type(*gptr());
}

std::string_view ChunkedInput::Peek(size_t size) {
  if (gptr() == egptr()) underflow();
  return std::string_view(gptr(), std::min<size_t>(size, egptr() - gptr()));
}

TrafficFormat DetectFormat(const std::string& name, std::string_view start) {
  const std::string extension = Extension(name);
  if (extension == ".har") return TrafficFormat::Har;
  if (extension == ".jsonl" || extension == ".ndjson") return TrafficFormat::JsonLines;
  const size_t end = start.find('\n');
  if (end == std::string_view::npos) return TrafficFormat::Har;
  RequestLineCheck first;
  nlohmann::json::sax_parse(start.substr(0, end), &first);
  return first.IsRequest() ? TrafficFormat::JsonLines : TrafficFormat::Har;
}

TrafficFormat ReadTraffic(ChunkedInput& input, const std::string& name, TrafficFormat format, TrafficSink& sink) {
  if (format == TrafficFormat::Auto) format = DetectFormat(name, input.Peek(1024 * 1024));
  std::istream in(&input);
  in.exceptions(std::ios::badbit);
  try {
    if (format == TrafficFormat::Har) {
      ReadHar(in, DefaultPage(name), sink);
    } else {
      ReadJsonLines(in, DefaultPage(name), sink);
    }
  } catch (const std::ios::failure&) {
    throw InputError("cannot read the input");
  }
  return format;
}

std::unique_ptr<std::FILE, int (*)(std::FILE*)> OpenInputFile(const std::string& path) {
  if (path == "-") return {stdin, KeepStandardInput};
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) throw InputError("cannot open " + path + ": " + std::strerror(errno));
  return {file, std::fclose};
}

uint64_t InputSize(const std::string& path) {
  std::error_code error;
  if (path == "-" || !std::filesystem::is_regular_file(path, error)) return 0;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0 : size;
}

}  // namespace dnt_scan

