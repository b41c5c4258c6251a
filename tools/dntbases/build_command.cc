// dntbases build: turn a JSON bases source into dntbugs.dat and dnt0001.dat.
#include <filesystem>
#include <fstream>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "do_not_track/util/base_files.h"
#include "squeeze/container_writer.h"
#include "tools/bases_writer/bases_writer.h"
#include "tools/dntbases/build_source.h"
#include "tools/dntbases/bug_bases_file.h"
#include "tools/dntbases/commands.h"

namespace dntbases {
namespace {

namespace fs = std::filesystem;

struct BuildOptions {
  std::string source;
  std::string outputDirectory;
  bool raw = false;
};

// One record per script: length, a non-zero continuity flag, three unused
// bytes, then the script itself.
void WriteBaseFile(const fs::path& path, std::span<const uint8_t> content, bool raw) {
  const std::vector<uint8_t> packed = raw ? std::vector<uint8_t>() : squeeze::PackContainer(content, path.filename().string());
  const std::span<const uint8_t> bytes = raw ? content : std::span<const uint8_t>(packed);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write \"" + path.string() + "\"");
}

void Build(const BuildOptions& options) {
  const BasesSource source = ReadBasesSource(options.source);
  const std::vector<uint8_t> bugDatabase = dnt::bases_writer::Write(source.database);
  const fs::path directory(options.outputDirectory);
  std::error_code error;
  fs::create_directories(directory, error);
  if (error) throw std::runtime_error("cannot create \"" + directory.string() + "\": " + error.message());
  WriteBaseFile(directory / dnt::BugFileName, bugDatabase, options.raw);
  if (!source.scripts.empty()) WriteBaseFile(directory / "dnt0001.dat", dnt::bases_writer::WriteScriptFile(source.scripts), options.raw);
}

}  // namespace

void AddBuildCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<BuildOptions>();
  CLI::App* command = app.add_subcommand(
      "build",
      "Build bases from a JSON source: OUTDIR/dntbugs.dat and, when the source lists scripts, "
      "OUTDIR/dnt0001.dat holding all of them");
  command->add_option("SOURCE", options->source, "JSON bases source (script paths are relative to it)")
      ->required();
  command->add_option("OUTDIR", options->outputDirectory, "directory to write the base files to (created if missing)")
      ->required();
  command->add_flag("--raw", options->raw, "write the files unpacked instead of in SQZE containers");
  command->callback([options, &exitCode] {
    exitCode = ExitStatusOf(
        [&] {
          Build(*options);
          return 0;
        },
        "build: ");
  });
}

}  // namespace dntbases
