// Scans of the source tree: every raise site under engine/ and tools/ that
// writes a literal code and a literal message must name a (code, format)
// pair of the catalogue, and no include goes against the direction of the
// layers (core below disk and sql; nothing in engine/ or platform/ above
// itself; Qt only in platform/qtui and app/).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/ZUDErrorCatalogue.h"

namespace fs = std::filesystem;

namespace {

struct RaiseSite {
  std::string file;
  int line = 0;
  int32_t code = 0;
  std::string format;
};

void SkipBlanks(const std::string& s, size_t& i) {
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
}

// Reads one C++ string literal at `i` (escapes decoded); false if none.
bool ReadLiteral(const std::string& s, size_t& i, std::string& out) {
  if (i >= s.size() || s[i] != '"') return false;
  for (++i; i < s.size() && s[i] != '"'; ++i) {
    if (s[i] != '\\') {
      out.push_back(s[i]);
      continue;
    }
    if (++i >= s.size()) return false;
    switch (s[i]) {
      case 'n': out.push_back('\n'); break;
      case 'r': out.push_back('\r'); break;
      case 't': out.push_back('\t'); break;
      default: out.push_back(s[i]);  // \" \\ \'
    }
  }
  if (i >= s.size()) return false;
  ++i;
  return true;
}

// Finds `EABSException(<digits>, "<literal>"...` with any blanks between the
// pieces; adjacent literals are joined as the compiler joins them.
std::vector<RaiseSite> ScanText(const std::string& file, const std::string& text) {
  std::vector<RaiseSite> sites;
  const std::string key = "EABSException";
  for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
    size_t i = at + key.size();
    SkipBlanks(text, i);
    if (i >= text.size() || text[i] != '(') continue;
    ++i;
    SkipBlanks(text, i);
    size_t digits = i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    if (i == digits) continue;
    RaiseSite site;
    site.file = file;
    site.code = std::stoi(text.substr(digits, i - digits));
    SkipBlanks(text, i);
    if (i >= text.size() || text[i] != ',') continue;
    ++i;
    SkipBlanks(text, i);
    if (!ReadLiteral(text, i, site.format)) continue;
    for (;;) {
      size_t j = i;
      SkipBlanks(text, j);
      if (!ReadLiteral(text, j, site.format)) break;
      i = j;
    }
    site.line = 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(at), '\n'));
    sites.push_back(site);
  }
  return sites;
}

std::vector<RaiseSite> ScanTree(const fs::path& root) {
  std::vector<RaiseSite> sites;
  for (const char* area : {"engine", "tools"}) {
    const fs::path dir = root / area;
    if (!fs::exists(dir)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
      const auto ext = entry.path().extension();
      if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream buf;
      buf << in.rdbuf();
      auto found = ScanText(fs::relative(entry.path(), root).string(), buf.str());
      sites.insert(sites.end(), found.begin(), found.end());
    }
  }
  return sites;
}

// ---------------------------------------------------------------------------
// Include direction

// An include of the folder `from` that must not exist: a header of the
// folder `to` ("core/", "disk/", "sql/", "access/", "app", "Qt").
struct ForbiddenEdge {
  const char* from;
  const char* to;
};

constexpr ForbiddenEdge kForbiddenEdges[] = {
    {"engine/core", "disk/"},
    {"engine/core", "sql/"},
    {"engine/core", "access/"},
    {"engine/disk", "sql/"},
    {"engine/core", "local/"},
    {"engine/disk", "local/"},
    {"engine/sql", "local/"},
    {"engine/local", "access/"},
    {"platform", "local/"},
    {"engine/disk", "access/"},
    {"engine/sql", "access/"},
    {"engine", "app"},
    {"engine", "Qt"},
    {"engine", "qtui/"},
    {"platform/os", "core/"},
    {"platform/os", "disk/"},
    {"platform/locale", "core/"},
    {"platform", "disk/"},
    {"platform", "sql/"},
    {"platform", "access/"},
    {"platform/os", "Qt"},
    {"platform/locale", "Qt"},
    {"platform/dataset", "core/"},
    {"platform/dataset", "Qt"},
    {"engine/core", "dataset/"},
    {"engine/disk", "dataset/"},
    {"engine/sql", "dataset/"},
    {"engine/local", "dataset/"},
};

// The target of every #include line of a text, with its line number.
std::vector<std::pair<int, std::string>> Includes(const std::string& text) {
  std::vector<std::pair<int, std::string>> out;
  std::istringstream in(text);
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    size_t i = line.find_first_not_of(" \t");
    if (i == std::string::npos || line[i] != '#') continue;
    i = line.find_first_not_of(" \t", i + 1);
    if (i == std::string::npos || line.compare(i, 7, "include") != 0) continue;
    i = line.find_first_of("\"<", i + 7);
    if (i == std::string::npos) continue;
    const size_t end = line.find_first_of("\">", i + 1);
    if (end == std::string::npos) continue;
    out.emplace_back(n, line.substr(i + 1, end - i - 1));
  }
  return out;
}

// Whether an include target is a header of `to`. The calculator's headers
// are found by their bare names in app/; Qt's begin with Q or qt.
bool Reaches(const std::string& target, const std::string& to, const fs::path& root) {
  if (to == "Qt") return target.starts_with("Q") || target.starts_with("qt") || target.starts_with("Qt");
  if (to == "app") return target.find('/') == std::string::npos && fs::exists(root / "app" / target);
  return target.starts_with(to);
}

std::vector<std::string> WrongIncludes(const fs::path& root) {
  std::vector<std::string> wrong;
  for (const char* area : {"engine", "platform"}) {
    for (const auto& entry : fs::recursive_directory_iterator(root / area)) {
      const auto ext = entry.path().extension();
      if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h" && ext != ".inc")) continue;
      const std::string file = fs::relative(entry.path(), root).string();
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream buf;
      buf << in.rdbuf();
      for (const auto& [line, target] : Includes(buf.str()))
        for (const ForbiddenEdge& e : kForbiddenEdges)
          if (file.starts_with(std::string(e.from) + "/") && Reaches(target, e.to, root))
            wrong.push_back(file + ":" + std::to_string(line) + ": includes " + target);
    }
  }
  return wrong;
}

}  // namespace

TEST(SourceScan, IncludeDirectionFollowsTheLayers) {
  const fs::path root = TIVORAN_SOURCE_ROOT;
  // The reader of include lines itself, on the forms that occur.
  const auto found = Includes("#include \"disk/ZUDPage.h\"\n  #  include <QWidget>\n// #include \"x.h\"\nint x;\n");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0], std::make_pair(1, std::string("disk/ZUDPage.h")));
  EXPECT_EQ(found[1], std::make_pair(2, std::string("QWidget")));
  EXPECT_TRUE(Reaches("disk/ZUDPage.h", "disk/", root));
  EXPECT_TRUE(Reaches("QWidget", "Qt", root));
  EXPECT_TRUE(Reaches("Funcion.h", "app", root));
  EXPECT_FALSE(Reaches("core/ZUDVariant.h", "disk/", root));
  EXPECT_FALSE(Reaches("cstdint", "Qt", root));

  const std::vector<std::string> wrong = WrongIncludes(root);
  for (const std::string& w : wrong) ADD_FAILURE() << w;
}

TEST(SourceScan, ScannerReadsSplitAndEscapedRaiseSites) {
  const std::string text =
      "x;\n throw EABSException (\n  30044,\n  \"Cannot compare Incompatible \"\n \"DataTypes: '%s' and '%s'\", {a});\n"
      "throw EABSException(10512, \"Cannot repair page index for large table. Table name: \\\"%s\\\"\", {n});\n"
      "throw EABSException(code, \"Value is Null\");\n"
      "throw EABSException(30016, message);\n"
      "throw EABSException(30017, \"Value is Null\");\n";
  const auto sites = ScanText("f.cpp", text);
  ASSERT_EQ(sites.size(), 3u);
  EXPECT_EQ(sites[0].line, 2);
  EXPECT_EQ(sites[0].code, 30044);
  EXPECT_TRUE(IsCatalogued(sites[0].code, sites[0].format)) << sites[0].format;
  EXPECT_TRUE(IsCatalogued(sites[1].code, sites[1].format)) << sites[1].format;
  // A catalogued message under a code it does not stand under is refused.
  EXPECT_EQ(sites[2].line, 9);
  EXPECT_FALSE(IsCatalogued(sites[2].code, sites[2].format));
  EXPECT_FALSE(IsCatalogued(30016, "Value is null"));
}

TEST(SourceScan, EveryRaiseSiteIsCatalogued) {
  const auto sites = ScanTree(TIVORAN_SOURCE_ROOT);
  // The core raises dozens of errors itself; finding none means the scan
  // looked in the wrong place.
  ASSERT_GT(sites.size(), 30u);
  for (const RaiseSite& s : sites) {
    EXPECT_TRUE(IsCatalogued(s.code, s.format))
        << s.file << ":" << s.line << ": (" << s.code << ", \"" << s.format << "\") is not in the error catalogue";
  }
}
