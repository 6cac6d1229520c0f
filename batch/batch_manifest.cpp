#include "batch/batch_manifest.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "numerics/text_lines.h"
#include "scandata/text_io.h"
#include "text/number_token.h"

namespace tarmic {

namespace {

// SHA-256 (FIPS 180-4), fed in pieces.
class Sha256 {
 public:
  void Add(const unsigned char* data, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      block_[fill_++] = data[i];
      if (fill_ == 64) {
        Compress();
        fill_ = 0;
      }
    }
    bits_ += static_cast<std::uint64_t>(n) * 8;
  }
  std::string Hex() {
    const std::uint64_t bits = bits_;
    const unsigned char one = 0x80, zero = 0;
    Add(&one, 1);
    while (fill_ != 56) Add(&zero, 1);
    for (int k = 7; k >= 0; --k) {
      const auto b = static_cast<unsigned char>(bits >> (8 * k));
      Add(&b, 1);
    }
    std::string hex;
    for (std::uint32_t v : h_) hex += Format("%08x", v);
    return hex;
  }

 private:
  static std::uint32_t Rot(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
  void Compress() {
    static constexpr std::array<std::uint32_t, 64> k = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
        0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
        0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
        0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
        0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
        0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
        0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
    std::array<std::uint32_t, 64> w{};
    for (int i = 0; i < 16; ++i)
      w[i] = static_cast<std::uint32_t>(block_[4 * i]) << 24 | static_cast<std::uint32_t>(block_[4 * i + 1]) << 16 |
             static_cast<std::uint32_t>(block_[4 * i + 2]) << 8 | block_[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
      const std::uint32_t s0 = Rot(w[i - 15], 7) ^ Rot(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const std::uint32_t s1 = Rot(w[i - 2], 17) ^ Rot(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::array<std::uint32_t, 8> v = h_;
    for (int i = 0; i < 64; ++i) {
      const std::uint32_t s1 = Rot(v[4], 6) ^ Rot(v[4], 11) ^ Rot(v[4], 25);
      const std::uint32_t ch = (v[4] & v[5]) ^ (~v[4] & v[6]);
      const std::uint32_t t1 = v[7] + s1 + ch + k[i] + w[i];
      const std::uint32_t s0 = Rot(v[0], 2) ^ Rot(v[0], 13) ^ Rot(v[0], 22);
      const std::uint32_t maj = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
      const std::uint32_t t2 = s0 + maj;
      for (int j = 7; j > 0; --j) v[j] = v[j - 1];
      v[4] += t1;
      v[0] = t1 + t2;
    }
    for (int i = 0; i < 8; ++i) h_[i] += v[i];
  }

  std::array<std::uint32_t, 8> h_ = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                     0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::array<unsigned char, 64> block_{};
  std::size_t fill_ = 0;
  std::uint64_t bits_ = 0;
};

// A field of the manifest: tabs and line breaks (of a name) as blanks.
std::string Field(std::string s) {
  for (char& c : s)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return s;
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> f;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    f.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return f;
    start = tab + 1;
  }
}

}  // namespace

std::string Sha256Hex(const std::string& bytes) {
  Sha256 h;
  h.Add(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  return h.Hex();
}

std::optional<FileDigest> DigestOfFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return std::nullopt;
  Sha256 h;
  FileDigest d;
  std::array<unsigned char, 65536> buffer;
  for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0;) {
    h.Add(buffer.data(), n);
    d.size += n;
  }
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) return std::nullopt;
  d.sha256 = h.Hex();
  return d;
}

std::string ManifestText(const ResultManifest& m) {
  std::string text = "# the result set of one tarmic-batch run: its files with their sizes and SHA-256\n";
  text += "version\t" + Field(m.version) + "\n";
  text += "seed\t" + Field(m.seed) + "\n";
  text += "command\t" + Field(m.command) + "\n";
  text += "analysis\t" + Field(m.analysis) + "\n";
  for (const auto& [sha, path] : m.inputs) text += "input\t" + sha + "\t" + Field(path) + "\n";
  for (const ResultManifest::Entry& e : m.files)
    text += "file\t" + std::to_string(e.size) + "\t" + e.sha256 + "\t" + Field(e.name) + "\n";
  return text;
}

std::optional<ResultManifest> ReadManifest(const std::string& dir) {
  std::vector<std::string> lines;
  if (!ReadTextFileLines(JoinPath(dir, kManifestName), LastLine::kRefused, &lines)) return std::nullopt;
  ResultManifest m;
  bool any = false;
  for (const std::string& line : lines) {
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> f = SplitTabs(line);
    if (f[0] == "version" && f.size() == 2) m.version = f[1];
    else if (f[0] == "seed" && f.size() == 2) m.seed = f[1];
    else if (f[0] == "command" && f.size() == 2) m.command = f[1];
    else if (f[0] == "analysis" && f.size() == 2) m.analysis = f[1];
    else if (f[0] == "input" && f.size() == 3) m.inputs.emplace_back(f[1], f[2]);
    else if (f[0] == "file" && f.size() == 4) {
      const std::optional<std::uint64_t> size = WholeNumberOf(f[1]);
      // A name is a name in dir, never a path elsewhere.
      if (!size || f[3].empty() || f[3].find('/') != std::string::npos || f[3] == "." || f[3] == "..")
        return std::nullopt;
      m.files.push_back({f[3], *size, f[2]});
    } else {
      return std::nullopt;
    }
    any = true;
  }
  if (!any) return std::nullopt;
  return m;
}

std::string ManifestMismatch(const ResultManifest& m, const std::string& dir) {
  for (const ResultManifest::Entry& e : m.files) {
    const std::optional<FileDigest> d = DigestOfFile(JoinPath(dir, e.name));
    if (!d) return e.name + " is missing";
    if (d->size != e.size || d->sha256 != e.sha256) return e.name + " is not the file the manifest lists";
  }
  return "";
}

ResultManifest ManifestOfFolder(const std::string& dir) {
  ResultManifest m;
  for (const std::string& path : FilesIn(dir)) {
    const std::string name = FileNameOf(path);
    if (name == kManifestName) continue;
    const std::optional<FileDigest> d = DigestOfFile(path);
    m.files.push_back({name, d ? d->size : 0, d ? d->sha256 : std::string()});
  }
  return m;
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec))
    if (e.is_regular_file(ec)) files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace tarmic
