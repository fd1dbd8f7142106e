// ExprLike: the LIKE matcher.
//
// Contract
//  1. "%" matches any sequence of characters and "_" exactly one; with an
//     escape character, the character after it is taken literally. The
//     dialect's own rules hold: a rest of the pattern that is exactly "%"
//     matches anything (also nothing), while a "%" followed by more of the
//     pattern is matched only against non-empty rests of the value (so
//     'a' LIKE 'a%%' is false).
//  2. An escape character that ends the pattern has nothing to escape: the
//     match raises 20294 at the ESCAPE text's line and column instead of
//     reading past the pattern's end.
//  3. Characters compare through the current locale's string comparison
//     (ignoring case when asked); equal bytes are equal without asking it.
//  4. Time is O(len(value) * len(pattern)), memory O(len(value)), no
//     recursion: a table of "rest of pattern from j matches rest of value
//     from i" is filled one pattern position at a time from the end.
#pragma once

#include <cstdint>
#include <string_view>

struct TABSLikeEscape {
  bool present = false;
  char16_t character = 0;
  int32_t line = 0, column = 0;  // of the ESCAPE text, for contract 2
};

bool LikeMatch(std::string_view value, std::string_view pattern, const TABSLikeEscape& escape, bool ignoreCase);
bool LikeMatch(std::u16string_view value, std::u16string_view pattern, const TABSLikeEscape& escape, bool ignoreCase);
