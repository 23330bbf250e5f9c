// Writes a mixed tree of files for timing varel pack: the bench data kinds (program text,
// prose, an executable-like image, low-entropy runs) in files of 1 to 16 MiB, some
// incompressible files, and many small files, in folders. The same arguments give the
// same bytes on every platform.
//
//   varel_bench_tree FOLDER MEBIBYTES
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_data.h"
#include "tools/os/files.h"

namespace {

constexpr size_t kMiB = size_t{1} << 20;
constexpr size_t kSourceBytes = 16 * kMiB;  // each file is a slice of its kind's data

bool Write(const std::string& folder, const std::string& name, const uint8_t* data, size_t n) {
  std::string error;
  if (MakeFolders(folder, &error) &&
      WriteFileAtomically(JoinPath(folder, name), data, n, true, &error)) {
    return true;
  }
  std::fprintf(stderr, "varel_bench_tree: %s\n", error.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: varel_bench_tree FOLDER MEBIBYTES\n");
    return 2;
  }
  const std::string root = argv[1];
  const uint64_t total = std::strtoull(argv[2], nullptr, 10) * kMiB;
  std::vector<std::vector<uint8_t>> sources;
  for (DataKind kind : kAllDataKinds) sources.push_back(GenerateData(kind, kSourceBytes));
  std::vector<uint8_t> noise(kSourceBytes);
  CBenchRandom random(2026);
  for (uint8_t& b : noise) b = static_cast<uint8_t>(random.Next() >> 56);
  sources.push_back(noise);

  uint64_t written = 0;
  for (unsigned n = 0; written < total; ++n) {
    // Every sixth file a folder of 64 small ones (1 to 16 KiB); otherwise 1 to 16 MiB of one
    // kind, the incompressible kind one time in five.
    const size_t kind = n % 5;
    const std::vector<uint8_t>& source = sources[kind];
    const std::string folder = JoinPath(root, std::string("group") + std::to_string(n % 7));
    if (n % 6 == 5) {
      for (unsigned k = 0; k < 64; ++k) {
        const size_t size = 1024 * (1 + (n * 64 + k) % 16);
        const size_t at =
            static_cast<size_t>((uint64_t{n} * 64 + k) * 7919 * 1024 % (kSourceBytes - size));
        const std::string name = "small" + std::to_string(n) + "-" + std::to_string(k) + ".dat";
        if (!Write(JoinPath(folder, "small" + std::to_string(n)), name, sources[k % 5].data() + at,
                   size)) {
          return 1;
        }
        written += size;
      }
      continue;
    }
    const size_t size = std::min<uint64_t>(kMiB * (1 + (n * 5) % 16), total - written);
    const size_t at = static_cast<size_t>(uint64_t{n} * 3 * kMiB % (kSourceBytes - size + 1));
    const std::string name =
        "file" + std::to_string(n) + "." + (kind < 4 ? DataKindName(kAllDataKinds[kind]) : "noise");
    if (!Write(folder, name, source.data() + at, size)) return 1;
    written += size;
  }
  std::printf("%s: %llu bytes\n", root.c_str(), static_cast<unsigned long long>(written));
  return 0;
}
