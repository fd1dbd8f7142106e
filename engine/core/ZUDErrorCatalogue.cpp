#include "core/ZUDErrorCatalogue.h"

#include <algorithm>
#include <iterator>

namespace {

const TABSCatalogueEntry kCatalogue[] = {
#include "core/ZUDErrorCatalogueData.inc"
};

}  // namespace

std::span<const TABSCatalogueEntry> ErrorCatalogue() { return {std::begin(kCatalogue), std::end(kCatalogue)}; }

std::vector<const char*> CatalogueFormats(int32_t code) {
  auto lower = std::lower_bound(std::begin(kCatalogue), std::end(kCatalogue), code,
                                [](const TABSCatalogueEntry& e, int32_t c) { return e.code < c; });
  std::vector<const char*> formats;
  for (auto it = lower; it != std::end(kCatalogue) && it->code == code; ++it) formats.push_back(it->format);
  return formats;
}

bool IsCatalogued(int32_t code, std::string_view format) {
  for (const char* f : CatalogueFormats(code))
    if (format == f) return true;
  return false;
}
