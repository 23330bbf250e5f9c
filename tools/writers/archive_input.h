// One file to be packed into an archive by the writers: its name inside the archive
// ('/'-separated) and its bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ArchiveInput {
  std::string name;
  std::vector<uint8_t> data;
};
