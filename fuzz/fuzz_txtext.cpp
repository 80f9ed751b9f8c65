// The function-key text reader on arbitrary bytes, at every window width.
#include <cstdio>
#include <cstring>

#include "frame/startup.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  if (size < 2) return 0;
  const int width =
      talvo::kMinWidth + (data[0] << 8 | data[1]) % (talvo::kMaxWidth - talvo::kMinWidth + 1);
  FILE* f = fmemopen(const_cast<unsigned char*>(data + 2), size - 2, "r");
  if (!f) return 0;
  char rows[16][255];
  talvo::read_txtext(f, (width - 390) / 8 - 1, rows);
  std::fclose(f);
  for (auto& row : rows)
    if (std::strlen(row) >= 255) __builtin_trap();
  return 0;
}
