#include "tools/engine/pack_inputs.h"

bool CPackInputFiles::Read(size_t index, uint64_t offset, uint8_t* out, size_t n,
                           std::string* error) {
  if (open_ != index) {
    open_ = SIZE_MAX;
    if (!file_.Open(inputs_[index].path, error)) return false;
    open_ = index;
  }
  size_t got = 0;
  if (!file_.ReadAt(offset, out, n, &got, error)) return false;
  if (got != n) {
    *error = inputs_[index].path + ": became shorter while being packed";
    return false;
  }
  return true;
}
