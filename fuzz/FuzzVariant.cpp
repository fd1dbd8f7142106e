// libFuzzer target: stored typed values. Any bytes loaded as a stored
// value (type byte, NULL byte, 4-byte size, value bytes) either load into a
// value whose text form can be asked for, or raise an engine error; and any
// value buffer converted or compared between any two storage types does
// the same. Never a crash, a read past the buffer or a huge allocation.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/ZUDConvert.h"
#include "core/ZUDExcept.h"
#include "core/ZUDVariant.h"

namespace {

void LoadAndShow(const std::string& bytes) {
  TABSMemoryStream stream(bytes);
  TABSVariant v;
  try {
    v.LoadFromStream(stream, 10349);
    (void)v.AsString();
  } catch (const EABSException&) {
  }
}

// The first two bytes pick the storage types (past the last one too), the
// third the declared size; the rest fills a 16-byte value buffer on the
// heap, so the sanitizer sees any read past it: every fixed type is at most
// 10 bytes wide and a declared size is at most 16.
void ConvertAndCompare(const uint8_t* data, size_t size) {
  if (size < 3) return;
  const auto from = static_cast<TABSStorageType>(data[0] % (kStorageTypeCount + 2));
  const auto to = static_cast<TABSStorageType>(data[1] % (kStorageTypeCount + 2));
  const int32_t declared = data[2] % 17;
  std::vector<char> buffer(16, '\0');
  std::memcpy(buffer.data(), data + 3, std::min(size - 3, buffer.size()));
  try {
    TABSConverted converted = ConvertValue(buffer.data(), from, declared, to);
    (void)converted;
  } catch (const EABSException&) {
  }
  try {
    CompareValueBuffers(buffer.data(), from, declared, false, buffer.data(), to, declared, false, false);
  } catch (const EABSException&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LoadAndShow(std::string(reinterpret_cast<const char*>(data), size));
  ConvertAndCompare(data, size);
  return 0;
}
