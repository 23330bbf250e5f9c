// Runs a fuzz target over files and folders of inputs without libFuzzer, so that the seed
// corpus and the regression inputs replay under ctest with any compiler. Each argument is
// a file or a folder whose files are replayed in name order.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool ReadWhole(const std::string& path, std::vector<uint8_t>* out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  out->clear();
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof(chunk), f)) > 0)
    out->insert(out->end(), chunk, chunk + got);
  std::fclose(f);
  return true;
}

// False when a folder cannot be read to its end.
bool Collect(const std::string& path, std::vector<std::string>* files) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return true;  // a missing folder holds no inputs
  if (!S_ISDIR(st.st_mode)) {
    files->push_back(path);
    return true;
  }
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return false;
  std::vector<std::string> names;
  errno = 0;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] != '.') names.push_back(e->d_name);
  }
  const bool whole = errno == 0;
  closedir(dir);
  if (!whole) {
    std::fprintf(stderr, "cannot read the folder %s\n", path.c_str());
    return false;
  }
  std::sort(names.begin(), names.end());
  for (const std::string& n : names) {
    if (!Collect(path + "/" + n, files)) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (!Collect(argv[i], &files)) return 1;
  }
  std::vector<uint8_t> input;
  for (const std::string& f : files) {
    if (!ReadWhole(f, &input)) {
      std::fprintf(stderr, "cannot read %s\n", f.c_str());
      return 1;
    }
    std::fprintf(stderr, "replay %s (%zu bytes)\n", f.c_str(), input.size());
    // An empty vector's data() may be null; libFuzzer hands a valid pointer.
    uint8_t none = 0;
    LLVMFuzzerTestOneInput(input.empty() ? &none : input.data(), input.size());
  }
  std::printf("replayed %zu inputs\n", files.size());
  return 0;
}
