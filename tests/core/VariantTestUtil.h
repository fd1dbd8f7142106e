// Helpers shared by the typed-value tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/ZUDExcept.h"
#include "core/ZUDMemory.h"
#include "core/ZUDVariant.h"
#include "locale/Locale.h"
#include "support/EngineError.h"

inline TABSVariant Str(const std::string& s) {
  TABSVariant v(bftString);
  v.SetAsString(s);
  return v;
}
inline TABSVariant Int(int32_t i) {
  TABSVariant v(bftInteger);
  v.SetAsInteger(i);
  return v;
}
inline TABSVariant Dbl(double d) {
  TABSVariant v(bftDouble);
  v.SetAsDouble(d);
  return v;
}
inline TABSVariant Date(int y, int m, int d) {
  TABSVariant v(bftDate);
  v.SetAsDate(EncodeDayNumber(y, m, d));
  return v;
}

// Every test runs under Spanish (Spain) unless it installs another locale,
// and must give back every engine block it took.
class VariantTest : public ::testing::Test {
 protected:
  void SetUp() override { before_ = MemoryManager().AllocatedBytes(); }
  void TearDown() override { EXPECT_EQ(MemoryManager().AllocatedBytes(), before_) << "engine blocks leaked"; }
  tiv::locale::ScopedLocale spanish_{tiv::locale::LocaleSettings::SpanishSpain()};

 private:
  uint64_t before_ = 0;
};
