#include "sql/SQLResultNames.h"

#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "os/OsRandom.h"
#include "sql/SQLSelect.h"

std::vector<std::string> SelectResultNames(const TABSSQLSelect& select) {
  std::vector<std::string> names;
  if (select.SelectAll) return {"*"};
  for (const auto& item : select.SelectList) {
    if (item.AllFields)
      names.push_back(item.TableName.empty() ? "*" : item.TableName + ".*");
    else if (!item.Pseudonym.empty())
      names.push_back(item.Pseudonym);
    else if (item.IsExpression)
      names.push_back("Expr" + tiv::os::NewGuidText());
    else
      names.push_back(item.FieldName);
  }
  MakeNamesUnique(names);
  return names;
}

void MakeNamesUnique(std::vector<std::string>& names) {
  const auto upper = [](const std::string& s) { return UpperName(s); };
  std::unordered_set<std::string> taken;
  // Per name, the suffix last given out: every attempt before it is taken
  // and stays taken, so the next copy resumes there.
  std::unordered_map<std::string, std::pair<std::string, int>> resume;
  for (auto& name : names) {
    if (name.empty()) name = "Expr" + tiv::os::NewGuidText();
    const std::string key = upper(name);
    if (taken.insert(key).second) continue;
    auto [it, fresh] = resume.try_emplace(key, "_1", 2);
    std::string& suffix = it->second.first;
    int& n = it->second.second;
    if (!fresh) suffix += std::to_string(n++);
    while (taken.count(key + upper(suffix))) suffix += std::to_string(n++);
    taken.insert(key + upper(suffix));
    name += suffix;
  }
}
