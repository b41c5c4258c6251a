#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <filesystem>
#include <set>
#include <stdexcept>

#include "orv/system/files.h"
#include "squeeze/unsqueezed_readable_file.h"
#include "squeeze/whole_file.h"
#include "tests/support/temp_dir.h"
#include "tests/support/thrown.h"

namespace {

namespace fs = std::filesystem;
using orv::system::EnumerateFiles;
using orv::system::MatchesMask;

using dnt::testing::TempDir;
using dnt::testing::Thrown;
using dnt::testing::PathSeparator;

// Links `link` to the directory `target`; true when the system lists the
// link as such (a reparse point on Windows, which wine does not mark).
bool LinkDirectory(const fs::path& target, const fs::path& link) {
#if defined(_WIN32)
  if (!::CreateSymbolicLinkW(link.c_str(), target.c_str(),
                             SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
    return false;
  }
  const DWORD attributes = ::GetFileAttributesW(link.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
#else
  fs::create_directory_symlink(target, link);
  return true;
#endif
}

TEST(Files, NameMasks) {
  EXPECT_TRUE(MatchesMask("dnt0001.dat", "dnt0???.dat"));
  EXPECT_TRUE(MatchesMask("DNT0ABC.DAT", "dnt0???.dat"));
  EXPECT_TRUE(MatchesMask("dnt0\xC3\xA9xy.dat", "dnt0???.dat"));  // '?' is a character, not a byte
  EXPECT_FALSE(MatchesMask("dnt01.dat", "dnt0???.dat"));
  EXPECT_FALSE(MatchesMask("dnt00001.dat", "dnt0???.dat"));
  EXPECT_FALSE(MatchesMask("dnt0001.dat.bak", "dnt0???.dat"));
  EXPECT_TRUE(MatchesMask("a\\b", "a/b"));
  EXPECT_TRUE(MatchesMask("a/b", "a\\b"));
  EXPECT_TRUE(MatchesMask(".dat", "*.dat"));
  EXPECT_TRUE(MatchesMask("x.dat.dat", "*.dat"));
  EXPECT_TRUE(MatchesMask("aXbYbc", "a*b*c"));
  EXPECT_FALSE(MatchesMask("aXbYbd", "a*b*c"));
  EXPECT_TRUE(MatchesMask("", "*"));
  EXPECT_FALSE(MatchesMask("", "?"));
  EXPECT_FALSE(MatchesMask(std::string(5000, 'a'), std::string(50, '*') + "b"));
}

TEST(Files, EnumeratesMatchingFilesOnly) {
  TempDir dir;
  for (const char* name : {"dnt0001.dat", "DNT0ABC.DAT", "dnt01.dat", "dntbugs.dat"}) dir.Write(name, {1});
  fs::create_directory(dir.path() / "dnt0002.dat");
  fs::create_directory(dir.path() / "target");
  const bool linked = LinkDirectory(dir.path() / "target", dir.path() / "dnt0003.dat");
  std::vector<std::string> paths;
  ASSERT_EQ(EnumerateFiles(dir.path().string(), "dnt0???.dat", paths), 0u);
  const std::string base = dir.path().string() + PathSeparator;
  // A linked directory is kept, as a directory reparse point is on Windows;
  // a plain directory is not.
  std::set<std::string> expected{base + "dnt0001.dat", base + "DNT0ABC.DAT"};
  if (linked) expected.insert(base + "dnt0003.dat");
  EXPECT_EQ(std::set<std::string>(paths.begin(), paths.end()), expected);
  ASSERT_EQ(EnumerateFiles(base, "dnt01.dat", paths), 0u);
  EXPECT_EQ(paths, std::vector<std::string>{base + "dnt01.dat"});
  EXPECT_EQ(orv::system::JoinPath("C:\\bases\\", "x"), "C:\\bases\\x");

  paths.push_back("stale");
  EXPECT_EQ(EnumerateFiles(base + "missing", "*", paths), 3u);
  EXPECT_TRUE(paths.empty());
  // Listing a file fails with the system's error: ERROR_DIRECTORY where
  // POSIX says ENOTDIR; Windows names it as it sees fit (wine: 123).
#if defined(_WIN32)
  EXPECT_NE(EnumerateFiles(base + "dnt01.dat", "*", paths), 0u);
#else
  EXPECT_EQ(EnumerateFiles(base + "dnt01.dat", "*", paths), 267u);
#endif
}

TEST(Files, OpenPackedFileReportsEachFailure) {
  TempDir dir;
  const std::string missing = (dir.path() / "missing.dat").string();
  EXPECT_EQ(Thrown<std::runtime_error>([&] { squeeze::UnsqueezedReadableFile::Open(missing); }),
            "Failed to open file [" + missing + "]");
  const std::string directory = dir.path().string();
  EXPECT_EQ(Thrown<std::runtime_error>([&] { squeeze::ReadWholeFile(directory); }), "Failed to open file [" + directory + "]");
  // A FIFO without a writer, or a device, must fail at once rather than
  // block or never end.
#if defined(_WIN32)
  const std::string fifo = "NUL";
#else
  const std::string fifo = (dir.path() / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
#endif
  EXPECT_EQ(Thrown<std::runtime_error>([&] { squeeze::ReadWholeFile(fifo); }), "Failed to open file [" + fifo + "]");
  dir.Write("plain.dat", {'S', 'Q', 'Z', 'E'});
  EXPECT_EQ(Thrown<std::runtime_error>([&] { squeeze::UnsqueezedReadableFile::Open((dir.path() / "plain.dat").string()); }),
            "Failed to unpack the file");
}

}  // namespace
