// Planner and index services, binding to record buffers and cursors,
// locate conditions and expression defaults of fields.
#include "ExprTestUtil.h"
#include "core/ZUDBytes.h"
#include "sql/ExprDefaults.h"
#include "support/FieldList.h"

namespace {

std::string Keys(const std::vector<std::string>& keys) {
  std::string s;
  for (const auto& k : keys) s += (s.empty() ? "" : ",") + k;
  return s;
}

class ExprPlanner : public ::testing::Test {
 protected:
  ExprPlanner() {
    a.Add("id", aftInteger);
    a.Add("x", aftInteger);
    a.Add("name", aftString, 20);
    b.Add("ref", aftInteger);
    b.Add("y", aftInteger);
    b.Add("x", aftInteger);  // also in a: ambiguous unqualified
  }
  tiv::locale::ScopedLocale spanish{tiv::locale::LocaleSettings::SpanishSpain()};
  TestRows a{"a"}, b{"b"};
};

TEST_F(ExprPlanner, PushDownSplitsConjuncts) {
  TestJoin join(a, b);
  auto e = Parse("a.id = 1 AND b.y > 2 AND a.id = b.ref AND name LIKE 'q_'", nullptr);
  e->PushDown(&join, nullptr, 0, true, nullptr);
  ASSERT_EQ(a.filters.size(), 1u);
  ASSERT_EQ(b.filters.size(), 1u);
  EXPECT_EQ(a.filters[0]->Root()->Kind, opAnd);  // a.id = 1 and the LIKE
  EXPECT_EQ(a.filters[0]->Root()->Children.size(), 2u);
  EXPECT_EQ(b.filters[0]->Root()->Kind, opGreater);
  ASSERT_EQ(join.filters.size(), 1u);  // the join condition stays for the join
  EXPECT_EQ(join.filters[0]->Root()->Kind, opEqual);
  EXPECT_TRUE(e->IsEmpty());

  // An outer join keeps everything above it; a non-AND root moves whole or not at all.
  TestJoin outer(a, b);
  outer.outerJoin = true;
  a.filters.clear();
  auto f = Parse("a.id = 1 AND b.y = 2", nullptr);
  f->PushDown(&outer, nullptr, 0, true, nullptr);
  EXPECT_TRUE(a.filters.empty());
  ASSERT_EQ(outer.filters.size(), 1u);
  auto g = Parse("a.id = 1 OR b.y = 2", nullptr);
  g->PushDown(&a, nullptr, 0, false, nullptr);
  EXPECT_FALSE(g->IsEmpty());
  EXPECT_TRUE(a.filters.empty());

  // Columns of an outer operator make outer references.
  auto h = Parse("id = y", nullptr);
  h->PushDown(&a, &b, 0, false, nullptr);
  ASSERT_EQ(a.filters.size(), 1u);
  a.filters[0]->Bind(&a, &b, 0);
  a["id"].SetAsInteger(4);
  b["y"].SetAsInteger(4);
  EXPECT_TRUE(a.filters[0]->IsTrue());
  EXPECT_TRUE(static_cast<TABSExprNodeField&>(*a.filters[0]->Root()->Children[1]).OuterReference);
}

TEST_F(ExprPlanner, JoinKeys) {
  std::vector<std::string> left, right;
  auto e = Parse("b.ref = a.id AND a.x = 1 AND id = y", nullptr);
  EXPECT_EQ(e->ExtractJoinKeys(&a, &b, left, right), 2);
  EXPECT_EQ(Keys(left), "a.id,id");
  EXPECT_EQ(Keys(right), "b.ref,y");
  ASSERT_EQ(e->Root()->Children.size(), 1u);  // a.x = 1 is left
  auto whole = Parse("id = ref", nullptr);
  EXPECT_EQ(whole->ExtractJoinKeys(&a, &b, left, right), 1);
  EXPECT_TRUE(whole->IsEmpty());
  auto same = Parse("id = name", nullptr);  // both in a: no join key
  EXPECT_EQ(same->ExtractJoinKeys(&a, &b, left, right), 0);
  auto ambiguous = Parse("x = ref", nullptr);
  EXPECT_EQ(EngineErrorText([&] { ambiguous->ExtractJoinKeys(&a, &b, left, right); }),
            "10404 Ambiguous field reference to 'x'");
  auto ambiguousRight = Parse("ref = x", nullptr);
  EXPECT_EQ(EngineErrorText([&] { ambiguousRight->ExtractJoinKeys(&a, &b, left, right); }),
            "10405 Ambiguous field reference to 'x'");
}

TEST_F(ExprPlanner, AndWithPseudonymsAndReferences) {
  auto e = Parse("id = 1", nullptr);
  auto f = Parse("x = 2 AND nick = 'q'", nullptr);
  e->AndWith(*f);
  EXPECT_TRUE(f->IsEmpty());
  ASSERT_EQ(e->Root()->Kind, opAnd);
  EXPECT_EQ(e->Root()->Children.size(), 3u);
  EXPECT_TRUE(e->ReferencesOnly("ID; x ;NICK"));
  EXPECT_FALSE(e->ReferencesOnly("id;x"));
  EXPECT_TRUE(TABSExpression().ReferencesOnly(""));
  e->ResolvePseudonyms({{"NICK", "a", "name"}, {"other", "a", "id"}});
  EXPECT_TRUE(e->ReferencesOnly("id;x;name"));
  a["id"].SetAsInteger(1);
  a["x"].SetAsInteger(2);
  a["name"].SetAsString("q");
  e->Bind(&a, nullptr, 0);
  EXPECT_TRUE(e->IsTrue());
  TABSExpression empty;
  auto g = Parse("id = 1", nullptr);
  empty.AndWith(*g);
  EXPECT_FALSE(empty.IsEmpty());
}

TEST_F(ExprPlanner, SearchConditionsForIndexes) {
  TABSIndexDefs indexes;
  auto addIndex = [&](const char* name, int32_t id, std::vector<std::string> cols, bool descending = false) {
    TABSIndexDef* ix = indexes.AddNew();
    ix->SetName(name);
    ix->SetObjectID(id);
    ix->SetColumnCount(static_cast<int>(cols.size()));
    for (size_t i = 0; i < cols.size(); ++i) {
      ix->Column(static_cast<int>(i)).fieldName = cols[i];
      ix->Column(static_cast<int>(i)).descending = descending;
    }
    return ix;
  };
  addIndex("by_id", 1, {"ID"});
  addIndex("by_name", 2, {"name"});
  addIndex("by_id_x", 3, {"id", "x"});
  addIndex("by_x_desc", 4, {"x"}, true);
  TABSIndexDef* temp = addIndex("temp", 5, {"x"});
  temp->temporary = kTemporaryIndex;
  temp->ownerSessionID = 9;

  auto conditionsOf = [&](const std::string& text, int32_t session, std::unique_ptr<TABSExpression>* keep = nullptr) {
    auto e = Parse(text, &a);
    std::vector<TABSScanSearchCondition> out;
    e->GetSearchConditions(indexes, out, session);
    std::string s;
    for (const auto& c : out)
      s += (s.empty() ? "" : " ") + std::to_string(c.IndexID) + ":" + std::to_string(c.ConditionType) + ":" +
           Render(c.KeyValues[0].get());
    if (keep) *keep = std::move(e);
    return s;
  };
  EXPECT_EQ(conditionsOf("id = 5 AND name = 'x'", 1), "1:1:int:5 3:1:int:5 2:1:str:x");
  EXPECT_EQ(conditionsOf("id = 5 OR id = 6", 1), "");
  EXPECT_EQ(conditionsOf("id <> 5", 1), "");
  EXPECT_EQ(conditionsOf("5 < id", 1), "1:3:int:5 3:3:int:5");  // id > 5
  EXPECT_EQ(conditionsOf("x >= 2", 1), "4:4:int:2");            // descending: lower or equal
  EXPECT_EQ(conditionsOf("x >= 2", 9), "4:4:int:2 5:5:int:2");  // the owner sees its temporary index
  EXPECT_EQ(conditionsOf("x IS NULL AND id IS NOT NULL", 1), "4:1:NULL 1:3:NULL 3:3:NULL");
  EXPECT_EQ(conditionsOf("name LIKE 'ab%'", 1), "");  // prefix comparisons do not drive a range
  EXPECT_EQ(conditionsOf("name = 'this text is far too long'", 1), "");
  EXPECT_EQ(conditionsOf("id = x", 1), "");

  // A two-column index takes a second equality, then the driving nodes go.
  std::unique_ptr<TABSExpression> e;
  conditionsOf("id = 5 AND x = 7 AND name = 'q'", 1, &e);
  std::vector<TABSScanSearchCondition> conditions;
  e->GetSearchConditions(indexes, conditions, 1);
  size_t composite = 0;
  while (conditions[composite].IndexID != 3) ++composite;
  EXPECT_TRUE(e->ExtendSearchCondition(conditions[composite], *indexes.IndexByID(3)));
  EXPECT_EQ(conditions[composite].KeyFieldCount, 2);
  EXPECT_EQ(Render(conditions[composite].KeyValues[1].get()), "int:7");
  EXPECT_FALSE(e->ExtendSearchCondition(conditions[composite], *indexes.IndexByID(3)));
  e->RemoveConditionNodes(conditions, static_cast<int>(composite), static_cast<int>(composite));
  ASSERT_EQ(e->Root()->Children.size(), 1u);
  EXPECT_EQ(e->Root()->Children[0]->Kind, opEqual);  // name = 'q' is left to evaluate
  for (const auto& c : conditions) EXPECT_TRUE(c.Node == nullptr || c.Node == e->Root()->Children[0].get());

  TABSIndexDef* none = addIndex("none", 6, {});
  TABSExprNodeComparison cmp(opEqual);
  cmp.AddChild(std::make_unique<TABSExprNodeField>("", "id"));
  cmp.AddChild(std::make_unique<TABSExprNodeConst>());
  std::vector<TABSScanSearchCondition> out;
  EXPECT_EQ(EngineErrorText([&] { cmp.AddSearchConditions(out, *none); }), "20057 Invalid index for search");
}

// A table's memory record: the filter reads the fields straight from the
// buffer handed in, and a locate builds its comparisons over them.
TEST_F(ExprPlanner, RecordBufferBindingAndLocate) {
  TABSFieldDefs fields;
  AddFields(fields, {{"id", aftInteger}, {"name", aftString, 10}, {"dia", aftDate}});
  auto record = [&](int id, const char* name, bool dayNull) {
    std::vector<char> r(static_cast<size_t>(fields.MemoryRecordSize()), 0);
    zud::PutU32(r.data() + fields[0]->MemoryOffset(), static_cast<uint32_t>(id));
    if (name)
      std::snprintf(r.data() + fields[1]->MemoryOffset(), 11, "%s", name);
    else
      r[0] |= 2;
    zud::PutU32(r.data() + fields[2]->MemoryOffset(), static_cast<uint32_t>(EncodeDayNumber(2024, 1, 31)));
    if (dayNull) r[0] |= 4;
    return r;
  };
  const auto r1 = record(7, "ana", false), r2 = record(8, nullptr, true);
  TABSRecordRowSource cursor(fields, "t");
  cursor.SetRecord(r1.data());
  TABSExpression filter;
  filter.ParseFilter(&cursor, "id = 7 AND name = 'ana' AND dia = DATE '2024-01-31'", false, false);
  EXPECT_TRUE(filter.IsTrue());
  filter.SetRecordBuffer(r2.data(), 0);
  EXPECT_FALSE(filter.IsTrue());
  filter.ParseFilter(&cursor, "name IS NULL AND dia IS NULL AND id + 1 = 9", false, false);
  filter.SetRecordBuffer(r2.data(), 0);
  EXPECT_TRUE(filter.IsTrue());

  TABSVariant k1, k2;
  k1.SetAsInteger(7);
  k2.SetAsString("ANA");
  TABSExpression locate;
  locate.BuildLocate(&cursor, "id;name", {&k1, &k2}, true, false);
  locate.SetRecordBuffer(r1.data(), 0);
  EXPECT_TRUE(locate.IsTrue());
  locate.BuildLocate(&cursor, "id;name", {&k1, &k2}, false, false);
  locate.SetRecordBuffer(r1.data(), 0);
  EXPECT_FALSE(locate.IsTrue());
  EXPECT_EQ(EngineErrorText([&] { locate.BuildLocate(&cursor, "id;name", {&k1}, false, false); }),
            "30112 Count of FieldNames (2) not equal counts of KeyValues (1)");
  TABSVariant nullKey(bftString), dayNumber;
  locate.BuildLocate(&cursor, "name", {&nullKey}, false, false);  // a NULL key matches a NULL field
  locate.SetRecordBuffer(r2.data(), 0);
  EXPECT_TRUE(locate.IsTrue());
  dayNumber.SetAsDouble(EncodeDayNumber(2024, 1, 31) - kDateDelta);  // a date-time number
  locate.BuildLocate(&cursor, "dia", {&dayNumber}, false, false);
  locate.SetRecordBuffer(r1.data(), 0);
  EXPECT_TRUE(locate.IsTrue());
  TABSVariant five;
  five.SetAsInteger(5);
  locate.BuildFieldCompare(&cursor, "id", five, opGreater);
  locate.SetRecordBuffer(r1.data(), 0);
  EXPECT_TRUE(locate.IsTrue());
}

TEST_F(ExprPlanner, FieldDefaultsThroughTheCoreHook) {
  auto text = [](const char* s) {
    TABSVariant v;
    v.SetAsString(s);
    return v;
  };
  const struct {
    const char* text;
    const char* value;  // nullptr: a literal default
  } cases[] = {
      {"1 + 1", "int:2"},       {"DATE '2024-03-15' + 1", "date:2024-03-16"},
      {"'a' || 'b'", "str:ab"}, {"5", nullptr},
      {"abc", nullptr},  // a column reference is no default expression
      {"a + 1", nullptr},       {"hello world", nullptr},
      {"1 / 0", nullptr},  // fails to evaluate: a literal
      {"NOW", nullptr},    // not built yet: a literal for now
  };
  for (const auto& c : cases) {
    auto def = ParseDefaultExpression(text(c.text));
    if (!c.value) {
      EXPECT_EQ(def, nullptr) << c.text;
      continue;
    }
    ASSERT_NE(def, nullptr) << c.text;
    TABSVariant v;
    def->Evaluate(v);
    EXPECT_EQ(Render(&v), c.value) << c.text;
  }
  InstallExpressionDefaults();
  TABSFieldDefs fields;
  TABSFieldDef* f = fields.AddNew();
  f->SetName("n");
  f->SetDataType(aftInteger);
  f->SetDefaultValue(text("40 + 2"));
  ASSERT_NE(f->DefaultExpression(), nullptr);
  TABSVariant v;
  f->DefaultExpression()->Evaluate(v);
  EXPECT_EQ(Render(&v), "int:42");
  f->SetDefaultValue(text("42"));
  EXPECT_EQ(f->DefaultExpression(), nullptr);
  SetDefaultExpressionParser({});
}

}  // namespace
