// dntbases import: turn tracker lists people already have into a bases
// source for dntbases build.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/dntbases/bug_bases_file.h"
#include "tools/dntbases/commands.h"
#include "tools/list_import/adblock_list.h"
#include "tools/list_import/entity_list.h"
#include "tools/list_import/hosts_file.h"

namespace dntbases {
namespace {

namespace fs = std::filesystem;
using namespace list_import;

struct ImportOptions {
  std::vector<std::string> entities;
  std::vector<std::string> adblock;
  std::vector<std::string> hosts;
  uint32_t listCategory = 3;
  std::vector<std::string> entityCategories;
  std::vector<std::string> scripts;
  std::string timestamp;
  std::string output;
};

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open \"" + path + "\"");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw std::runtime_error("cannot read \"" + path + "\"");
  return text;
}

CategoryMap EntityCategories(const std::vector<std::string>& assignments) {
  CategoryMap categories = DefaultEntityCategories();
  for (const std::string& assignment : assignments) {
    const size_t equals = assignment.find('=');
    const std::string value = equals == std::string::npos ? "" : assignment.substr(equals + 1);
    if (equals == 0 || value.empty() || value.find_first_not_of("0123456789") != std::string::npos ||
        value.size() > 9) {
      throw std::invalid_argument("--entity-category takes NAME=NUMBER, not [" + assignment + "]");
    }
    categories[assignment.substr(0, equals)] = static_cast<uint32_t>(std::stoul(value));
  }
  return categories;
}

// Script paths as the source must name them: relative to the folder the
// source is written to, or absolute when it goes to standard output.
std::vector<std::string> ScriptPaths(const ImportOptions& options) {
  const fs::path folder =
      options.output.empty() ? fs::path() : fs::absolute(options.output).lexically_normal().parent_path();
  std::vector<std::string> paths;
  for (const std::string& script : options.scripts) {
    if (!fs::is_regular_file(script)) throw std::runtime_error("script \"" + script + "\" not found");
    const fs::path absolute = fs::absolute(script).lexically_normal();
    paths.push_back(folder.empty() ? absolute.string() : absolute.lexically_relative(folder).string());
  }
  return paths;
}

// The build time as the source gives it: "now" is the current UTC time.
std::string TimestampText(const std::string& given) {
  if (given != "now") return given;
  using namespace std::chrono;
  const auto now = floor<seconds>(system_clock::now());
  const auto today = floor<days>(now);
  const year_month_day date{today};
  const hh_mm_ss time{now - today};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

template <class ImportList>
void ImportLists(const std::vector<std::string>& files, uint32_t category, ImportList importList,
                 ImportedBases& bases) {
  for (const std::string& file : files) {
    ImportReport report;
    report.input = file;
    importList(ReadWholeFile(file), bases.LastServiceId() + 1, category, fs::path(file).stem().string(), bases,
               report);
    std::cerr << Describe(report);
  }
}

void WriteSource(const nlohmann::json& source, const std::string& output) {
  const std::string text = source.dump(1) + "\n";
  if (output.empty()) {
    std::cout << text;
    return;
  }
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write \"" + output + "\": " + std::strerror(errno));
  out << text;
  out.close();
  if (!out) throw std::runtime_error("cannot write \"" + output + "\"");
}

int RunImport(const ImportOptions& options) {
  if (options.entities.empty() && options.adblock.empty() && options.hosts.empty()) {
    throw std::invalid_argument("nothing to import: give --entities, --adblock or --hosts");
  }
  const CategoryMap categories = EntityCategories(options.entityCategories);
  const std::vector<std::string> scripts = ScriptPaths(options);
  ImportedBases bases;
  for (const std::string& file : options.entities) {
    ImportReport report;
    report.input = file;
    try {
      ImportEntities(ReadWholeFile(file), categories, bases.LastServiceId() + 1, bases, report);
    } catch (const std::invalid_argument& e) {
      throw std::runtime_error(file + ": " + e.what());
    }
    std::cerr << Describe(report);
  }
  ImportLists(options.adblock, options.listCategory, ImportAdblockList, bases);
  ImportLists(options.hosts, options.listCategory, ImportHostsFile, bases);
  size_t duplicates = 0;
  nlohmann::json source = ToSourceJson(bases, scripts, duplicates);
  if (!options.timestamp.empty()) source["timestamp"] = TimestampText(options.timestamp);
  WriteSource(source, options.output);
  std::cerr << "source: " << source["services"].size() << " services, " << source["bugs"].size() << " bugs, "
            << source["rules"].size() << " rules, " << source["exceptions"].size() << " exceptions";
  if (duplicates) std::cerr << " (" << duplicates << " masks repeated an earlier rule and were left out)";
  std::cerr << '\n';
  return 0;
}

}  // namespace

void AddImportCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<ImportOptions>();
  CLI::App* command = app.add_subcommand(
      "import",
      "Turn tracker lists into a bases source for `build`: entity lists (JSON), adblock filter lists "
      "(||host^, ||host/path, @@ exceptions) and hosts files (0.0.0.0 host). What a list holds that "
      "cannot be imported is counted on standard error, with the first few lines quoted");
  command->add_option("--entities", options->entities,
                      "entity list: a JSON array of {name, category, domains}; each entity of an imported category "
                      "is one service, each domain one rule");
  command->add_option("--adblock", options->adblock, "adblock filter list; the whole list is one service named after the file");
  command->add_option("--hosts", options->hosts, "hosts file; the whole file is one service named after the file");
  command->add_option("--list-category", options->listCategory,
                      "service category of --adblock and --hosts lists (1 social network, 2 web analytics, "
                      "3 ad agency, 4 web bug)")
      ->default_val(3)
      ->check(CLI::Range(1, 4));
  command->add_option("--entity-category", options->entityCategories,
                      "NAME=CATEGORY: import entities of category NAME as CATEGORY (0 leaves them out); defaults: "
                      "social=1, analytics=2, ad=3, tag-manager=4, marketing=4");
  command->add_option("--script", options->scripts, "script file the bases carry (repeatable, in order)");
  command->add_option("--timestamp", options->timestamp,
                      "when the bases were built, as they will say: a UTC time like 2024-03-01T13:05:09Z, or now");
  command->add_option("-o,--output", options->output, "where to write the source (default: standard output)");
  command->callback([options, &exitCode] { exitCode = ExitStatusOf([&] { return RunImport(*options); }); });
}

}  // namespace dntbases
