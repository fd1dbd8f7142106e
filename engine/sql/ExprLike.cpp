#include "sql/ExprLike.h"

#include <vector>

#include "core/ZUDExcept.h"
#include "core/ZUDVariant.h"

namespace {

enum class ElementKind : uint8_t { Literal, One, Any };

template <typename Char>
struct Element {
  ElementKind kind;
  Char c;
};

bool SameChar(char a, char b, bool ignoreCase) {
  if (a == b) return true;
  return CompareValueBuffers(&a, bftString, 1, false, &b, bftString, 1, false, ignoreCase) == kCmpEqual;
}

bool SameChar(char16_t a, char16_t b, bool ignoreCase) {
  if (a == b) return true;
  char l[4] = {static_cast<char>(a & 0xFF), static_cast<char>(a >> 8), 0, 0};
  char r[4] = {static_cast<char>(b & 0xFF), static_cast<char>(b >> 8), 0, 0};
  return CompareValueBuffers(l, bftWideString, 4, false, r, bftWideString, 4, false, ignoreCase) == kCmpEqual;
}

template <typename Char>
std::vector<Element<Char>> Compile(std::basic_string_view<Char> pattern, const TABSLikeEscape& escape) {
  std::vector<Element<Char>> out;
  out.reserve(pattern.size());
  for (size_t j = 0; j < pattern.size(); ++j) {
    const Char c = pattern[j];
    if (escape.present && c == static_cast<Char>(escape.character)) {
      if (j + 1 >= pattern.size())
        throw EABSException(20294,
                            "Invalid escape character length (should be a single character) at line %d, column %d",
                            {escape.line, escape.column});
      out.push_back({ElementKind::Literal, pattern[++j]});
    } else if (c == Char('%')) {
      out.push_back({ElementKind::Any, c});
    } else if (c == Char('_')) {
      out.push_back({ElementKind::One, c});
    } else {
      out.push_back({ElementKind::Literal, c});
    }
  }
  return out;
}

template <typename Char>
bool Match(std::basic_string_view<Char> v, std::basic_string_view<Char> pattern, const TABSLikeEscape& escape,
           bool ignoreCase) {
  const auto p = Compile(pattern, escape);
  const size_t n = v.size(), m = p.size();
  // next[i]: rest of the pattern from j + 1 matches v from i; cur: from j.
  std::vector<uint8_t> next(n + 1, 0), cur(n + 1, 0);
  for (size_t i = 0; i <= n; ++i) next[i] = i == n;  // j == m: only the empty rest matches
  for (size_t jj = m; jj-- > 0;) {
    const Element<Char>& e = p[jj];
    if (jj == m - 1 && e.kind == ElementKind::Any) {
      std::fill(cur.begin(), cur.end(), 1);  // the rest is exactly "%"
    } else {
      cur[n] = 0;  // value exhausted, pattern not
      if (e.kind == ElementKind::Any) {
        uint8_t any = 0;  // OR of next[k] for k in i..n-1
        for (size_t i = n; i-- > 0;) {
          any = static_cast<uint8_t>(any | next[i]);
          cur[i] = any;
        }
      } else {
        for (size_t i = 0; i < n; ++i)
          cur[i] = next[i + 1] && (e.kind == ElementKind::One || SameChar(v[i], e.c, ignoreCase));
      }
    }
    cur.swap(next);
  }
  return next[0] != 0;
}

}  // namespace

bool LikeMatch(std::string_view value, std::string_view pattern, const TABSLikeEscape& escape, bool ignoreCase) {
  return Match<char>(value, pattern, escape, ignoreCase);
}

bool LikeMatch(std::u16string_view value, std::u16string_view pattern, const TABSLikeEscape& escape, bool ignoreCase) {
  return Match<char16_t>(value, pattern, escape, ignoreCase);
}
