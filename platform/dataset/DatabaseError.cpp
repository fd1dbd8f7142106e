#include "dataset/DatabaseError.h"

namespace tiv::dataset {

std::string Format(const std::string& pattern, std::initializer_list<std::string> args) {
  std::string out;
  auto next = args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && (pattern[i + 1] == 's' || pattern[i + 1] == 'd') &&
        next != args.end()) {
      out += *next++;
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

void RaiseFor(const std::string& name, const std::string& text) {
  throw EDatabaseError(name.empty() ? text : name + ": " + text);
}

}  // namespace tiv::dataset
