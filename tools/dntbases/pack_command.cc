// dntbases pack / unpack: between plain files and SQZE packed base files.
#include <fstream>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "squeeze/container_reader.h"
#include "squeeze/container_writer.h"
#include "squeeze/whole_file.h"
#include "tools/dntbases/bug_bases_file.h"
#include "tools/dntbases/commands.h"

namespace dntbases {
namespace {

struct PackPaths {
  std::string input;
  std::string output;
};

void WriteWholeFile(const std::string& path, std::span<const uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("Failed to write file [" + path + "]");
}

void Pack(const PackPaths& paths) {
  const std::vector<uint8_t> content = squeeze::ReadWholeFile(paths.input);
  WriteWholeFile(paths.output, squeeze::PackContainer(content, squeeze::RecordNameForPath(paths.input)));
}

void Unpack(const PackPaths& paths) {
  WriteWholeFile(paths.output, squeeze::UnpackContainer(squeeze::ReadWholeFile(paths.input)));
}

void AddCommand(CLI::App& app, int& exitCode, const std::string& name, const std::string& description,
                void (*run)(const PackPaths&)) {
  auto paths = std::make_shared<PackPaths>();
  CLI::App* command = app.add_subcommand(name, description);
  command->add_option("IN", paths->input, "File to read")->required();
  command->add_option("OUT", paths->output, "File to write")->required();
  command->callback([paths, run, &exitCode] {
    exitCode = ExitStatusOf([&] {
      run(*paths);
      return 0;
    });
  });
}

}  // namespace

void AddPackCommands(CLI::App& app, int& exitCode) {
  AddCommand(app, exitCode, "pack", "Pack a file into an SQZE base file (one record named after IN)", Pack);
  AddCommand(app, exitCode, "unpack", "Unpack an SQZE base file and write its content", Unpack);
}

}  // namespace dntbases
