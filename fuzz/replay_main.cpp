// Runs a fuzz target over files and folders of inputs without libFuzzer, so that the seed
// corpus and the regression inputs replay under ctest with any compiler. Each argument is
// a file or a folder whose files are replayed in name order.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
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

void Collect(const std::string& path, std::vector<std::string>* files) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return;  // a missing folder holds no inputs
  if (!S_ISDIR(st.st_mode)) {
    files->push_back(path);
    return;
  }
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] != '.') names.push_back(e->d_name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& n : names) Collect(path + "/" + n, files);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) Collect(argv[i], &files);
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
