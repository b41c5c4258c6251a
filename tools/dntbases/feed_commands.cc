// dntbases keygen, publish and fetch: the publisher's and the fetcher's side
// of a signed bases feed (see tools/bases_feed/feed_client.h for its
// layout).
#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>

#include "tools/bases_feed/feed_client.h"
#include "tools/bases_feed/feed_error.h"
#include "tools/dntbases/bases_directory.h"
#include "tools/dntbases/bug_bases_file.h"
#include "tools/dntbases/commands.h"

namespace dntbases {
namespace {

namespace fs = std::filesystem;
using namespace bases_feed;
using nlohmann::json;

struct PublishOptions {
  std::string bases;
  std::string out;
  std::string key;
  std::string expires = "14d";
  uint64_t version = 0;
};

struct FetchOptions {
  std::string url;
  std::string key;
  std::string directory;
  std::string authorities;
  std::string timeout = "30s";
};

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Written aside, then renamed: a web server never serves half a file.
void WriteWhole(const fs::path& path, const std::string& bytes) {
  const fs::path partial = path.parent_path() / ("." + path.filename().string() + ".part");
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + partial.string());
  }
  fs::rename(partial, path);
}

json DescribeManifest(const Manifest& manifest) {
  json files = json::array();
  for (const ManifestFile& file : manifest.files) {
    files.push_back({{"name", file.name}, {"size", file.size}, {"sha256", file.sha256}});
  }
  return {{"version", manifest.version},
          {"created", UtcText(manifest.created)},
          {"expires", UtcText(manifest.expires)},
          {"files", files}};
}

int RunKeygen(const std::string& directory) {
  GenerateKeyPair(directory);
  std::cout << "dntbases: a new signing key is in " << (fs::path(directory) / PrivateKeyFile).string()
            << " (readable by you only; keep it off the web server). Give "
            << (fs::path(directory) / PublicKeyFile).string() << " to every host that fetches the bases.\n";
  return 0;
}

// The files to publish: every plain-named regular file of the folder.
std::vector<std::pair<std::string, std::string>> BasesFiles(const fs::path& directory) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& entry : fs::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file() || name.front() == '.') continue;
    if (!IsPlainName(name)) throw std::runtime_error(entry.path().string() + ": only plain file names are published");
    files.emplace_back(name, ReadWhole(entry.path()));
  }
  std::sort(files.begin(), files.end());
  return files;
}

int RunPublish(const PublishOptions& options) {
  const Key key = ReadPrivateKey(options.key);
  const auto expires = ParseDuration(options.expires, true);
  {
    // Bases that do not load would only be refused by every host.
    const orv::ComPtr<orv::ITracer> tracer = MakeToolTracer(false);
    try {
      LoadBasesDirectory(options.bases, tracer);
    } catch (...) {
      std::cerr << "dntbases publish: the bases in " << options.bases << " do not load:\n" << LoadFailureText(tracer.Get()) << '\n';
      return 1;
    }
  }
  const fs::path out = options.out, byHash = out / "by-hash";
  std::optional<Manifest> previous;
  std::string previousBytes;
  if (fs::exists(out / ManifestName)) {
    try {
      previousBytes = ReadWhole(out / ManifestName);
      previous = ParseManifest(previousBytes);
    } catch (const FeedError& e) {
      if (options.version == 0) throw std::runtime_error(std::string("the manifest published in ") + out.string() +
                                                         " does not read (" + e.what() + "): give --version");
    }
  }
  Manifest manifest;
  manifest.version = options.version ? options.version : (previous ? previous->version + 1 : 1);
  if (previous && manifest.version <= previous->version) {
    throw std::runtime_error("versions only grow: " + out.string() + " has version " + std::to_string(previous->version));
  }
  if (manifest.version > MaxVersion) throw std::runtime_error("the version is over " + std::to_string(MaxVersion));
  manifest.created = std::time(nullptr);
  manifest.expires = manifest.created + expires.count();
  fs::create_directories(byHash);
  for (auto& [name, bytes] : BasesFiles(options.bases)) {
    manifest.files.push_back({name, bytes.size(), Sha256Hex(bytes)});
    const fs::path path = byHash / manifest.files.back().sha256;
    if (!fs::exists(path) || fs::file_size(path) != bytes.size()) WriteWhole(path, bytes);
  }
  if (manifest.files.empty()) throw std::runtime_error(options.bases + " holds no files to publish");
  const std::string text = ManifestText(manifest);
  ParseManifest(text);  // the limits hold
  WriteWhole(out / SignaturePath(text), Sign(key.get(), text));
  WriteWhole(out / ManifestName, text);

  // Clients in the middle of fetching the previous set still find it; older
  // files go.
  std::set<std::string> kept = {fs::path(SignaturePath(text)).filename().string()};
  for (const Manifest* set : {&manifest, previous ? &*previous : nullptr}) {
    if (!set) continue;
    for (const ManifestFile& file : set->files) kept.insert(file.sha256);
  }
  if (previous) kept.insert(fs::path(SignaturePath(previousBytes)).filename().string());
  for (const auto& entry : fs::directory_iterator(byHash)) {
    const std::string name = entry.path().filename().string();
    const bool published = name.size() == 64 || (name.size() == 68 && name.ends_with(".sig"));
    if (published && !kept.count(name)) fs::remove(entry.path());
  }
  json described = DescribeManifest(manifest);
  described["manifest"] = (out / ManifestName).string();
  std::cout << described.dump(2) << '\n';
  return 0;
}

int RunFetch(const FetchOptions& options) {
  Key key = ReadPublicKey(options.key);
  std::string problem;
  const auto stored = LoadStoredSet(options.directory, key.get(), problem);
  if (!problem.empty()) std::cerr << "dntbases fetch: the bases in " << options.directory << " are not trusted (" << problem << "): fetching all\n";
  FeedClient client(options.url, std::move(key), options.authorities,
                    std::chrono::duration_cast<std::chrono::milliseconds>(ParseDuration(options.timeout, false)));
  try {
    const auto fetched = client.Check(stored ? &*stored : nullptr);
    const VerifiedSet& serving = fetched ? *fetched : *stored;
    if (fetched) StoreSet(options.directory, *fetched);
    json described = DescribeManifest(serving.manifest);
    described["status"] = fetched ? "updated" : "unchanged";
    described["directory"] = options.directory;
    std::cout << described.dump(2) << '\n';
    return 0;
  } catch (const FeedError& e) {
    std::cerr << "dntbases fetch: refused (" << FailureName(e.Reason()) << "): " << e.what() << '\n';
  }
  return 1;
}

// Errors of the commands' own arguments and files, as the other commands
// report them.
template <class Run>
int Reported(const char* command, Run&& run) {
  try {
    return run();
  } catch (const std::exception& e) {
    std::cerr << "dntbases " << command << ": " << e.what() << '\n';
  }
  return 1;
}

}  // namespace

void AddFeedCommands(CLI::App& app, int& exitCode) {
  auto directory = std::make_shared<std::string>();
  CLI::App* keygen = app.add_subcommand(
      "keygen", "Make an Ed25519 key pair for signing bases: DIR/bases.key (mode 0600) and DIR/bases.pub; never overwrites");
  keygen->add_option("DIR", *directory, "the folder for the keys")->required();
  keygen->callback([directory, &exitCode] { exitCode = Reported("keygen", [&] { return RunKeygen(*directory); }); });

  auto publish = std::make_shared<PublishOptions>();
  CLI::App* publishCommand = app.add_subcommand(
      "publish", "Publish the bases of BASES_DIR into OUT_DIR, a folder for any static web server: the files under "
                 "their hashes, a manifest with the next version, and its signature");
  publishCommand->add_option("BASES_DIR", publish->bases, "the bases to publish")->required();
  publishCommand->add_option("OUT_DIR", publish->out, "the folder the web server serves")->required();
  publishCommand->add_option("--key", publish->key, "the private key (bases.key of dntbases keygen)")->required();
  publishCommand->add_option("--expires", publish->expires, "how long hosts take this version: s, m, h or d")
      ->capture_default_str();
  publishCommand->add_option("--version", publish->version, "the version (default: one more than OUT_DIR's)")
      ->check(CLI::PositiveNumber);
  publishCommand->callback([publish, &exitCode] { exitCode = Reported("publish", [&] { return RunPublish(*publish); }); });

  auto fetch = std::make_shared<FetchOptions>();
  CLI::App* fetchCommand = app.add_subcommand(
      "fetch", "Fetch the bases published at URL into DIR when they are newer, signed by the key and whole; DIR is then "
               "a bases directory for --bases. Prints the manifest's version and files as JSON");
  fetchCommand->add_option("URL", fetch->url, "the https:// folder OUT_DIR of dntbases publish is served as")->required();
  fetchCommand->add_option("--key", fetch->key, "the publisher's public key (bases.pub)")->required();
  fetchCommand->add_option("DIR", fetch->directory, "the bases directory to keep up to date")->required();
  fetchCommand->add_option("--ca", fetch->authorities,
                           "verify the server with the authorities in this PEM file only, not the system's (for tests)");
  fetchCommand->add_option("--timeout", fetch->timeout, "time limit of each answer: s, m or h")->capture_default_str();
  fetchCommand->callback([fetch, &exitCode] { exitCode = Reported("fetch", [&] { return RunFetch(*fetch); }); });
}

}  // namespace dntbases
