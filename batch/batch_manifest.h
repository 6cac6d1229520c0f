// The manifest of a result set: the file "manifest.tsv" that every run writes with
// its results, as part of the set. It lists the set's files (name, size, SHA-256),
// the program's version, the seed, the command line as given, and the inputs the
// results were computed from (the analysis: the options that change results, and
// each scan and the parameter file with its SHA-256). It is what makes a folder's
// files one set: a later run replaces exactly the files it lists, and a run whose
// analysis is that of a complete set already there (every file as listed) keeps
// the set instead of computing it again.
//
// The file: tab-separated lines "KEY<TAB>VALUE..."; the files as
// "file<TAB>SIZE<TAB>SHA256<TAB>NAME", the inputs as "input<TAB>SHA256<TAB>PATH".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarmic {

inline constexpr const char* kManifestName = "manifest.tsv";

// The SHA-256 of a file's bytes as 64 lower-case hex digits, with its size;
// nullopt when it cannot be read.
struct FileDigest {
  std::uint64_t size = 0;
  std::string sha256;
};
std::optional<FileDigest> DigestOfFile(const std::string& path);
// The SHA-256 of bytes, as 64 hex digits.
std::string Sha256Hex(const std::string& bytes);

struct ResultManifest {
  std::string version;
  std::string seed;
  std::string command;   // the command line as given, blank-separated
  std::string analysis;  // the options that decide the results, canonical
  std::vector<std::pair<std::string, std::string>> inputs;  // sha256, absolute path
  struct Entry {
    std::string name;
    std::uint64_t size = 0;
    std::string sha256;
  };
  std::vector<Entry> files;  // in the order of their names
};

// The manifest's text.
std::string ManifestText(const ResultManifest& m);
// The manifest read from dir (nullopt when there is none or it is no manifest).
std::optional<ResultManifest> ReadManifest(const std::string& dir);
// Why the set the manifest lists is not complete in dir ("" when every file is
// there with its size and checksum): the first file missing or changed.
std::string ManifestMismatch(const ResultManifest& m, const std::string& dir);
// The manifest of the files of dir (every regular file but the manifest itself).
ResultManifest ManifestOfFolder(const std::string& dir);

// The regular files of folder (full paths, sorted by name): what a run staged.
std::vector<std::string> FilesIn(const std::string& folder);

}  // namespace tarmic
