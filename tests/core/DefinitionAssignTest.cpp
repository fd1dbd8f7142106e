// Definitions changed as a whole or not at all: a collection or a single
// definition whose copy fails half-way keeps what it held, a renamed field
// takes the constraints that name it along, and change stamps step on past
// INT32_MAX without a signed overflow.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "TableTestSupport.h"
#include "core/ZUDBaseEngine.h"
#include "core/ZUDExcept.h"

using namespace testsupport;

namespace {

int32_t CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EABSException& e) {
    return e.NativeError();
  }
  return 0;
}

std::vector<std::string> Names(const TABSMetaObjectDefs& defs) {
  std::vector<std::string> names;
  for (int i = 0; i < defs.Count(); ++i) names.push_back(defs.Get(i)->Name());
  return names;
}

// A source that fails on its third item (a repeated name, or a kind of
// constraint that does not exist) leaves the target with exactly its own
// items, whichever collection it is.
TEST(DefinitionAssign, ACollectionWhoseSourceFailsHalfWayKeepsItsItems) {
  struct Case {
    const char* name;
    std::function<std::unique_ptr<TABSMetaObjectDefs>()> target;
    std::function<std::unique_ptr<TABSMetaObjectDefs>()> source;
    int32_t code;
  };
  auto fields = [](std::vector<std::string> names) {
    auto defs = std::make_unique<TABSFieldDefs>();
    for (const auto& n : names) {
      TABSFieldDef* f = defs->AddNew();
      f->SetName(n);
      f->SetDataType(aftInteger);
    }
    return defs;
  };
  auto indexes = [](std::vector<std::string> names) {
    auto defs = std::make_unique<TABSIndexDefs>();
    for (const auto& n : names) {
      TABSIndexDef* ix = defs->AddNew();
      ix->SetName(n);
      ix->FillColumns({"a"}, {"ASC"}, {"CASE"});
    }
    return defs;
  };
  auto constraints = [](std::vector<std::string> names, bool unknownLast) {
    auto defs = std::make_unique<TABSConstraintDefs>();
    for (size_t i = 0; i < names.size(); ++i) {
      const bool unknown = unknownLast && i + 1 == names.size();
      auto c = unknown ? std::make_unique<TABSConstraintDef>(static_cast<TABSConstraintType>(1))
                       : std::unique_ptr<TABSConstraintDef>(std::make_unique<TABSConstraintDefNotNull>());
      c->SetName(names[i]);
      c->SubjectSlot().name = "a";
      defs->Add(std::move(c));
    }
    return defs;
  };
  const Case cases[] = {
      {"fields, repeated name",
       [&] {
         return fields({"x", "y"});
       },
       [&] {
         return fields({"a", "b", "A"});
       },
       10424},
      {"indexes, repeated name",
       [&] {
         return indexes({"x", "y"});
       },
       [&] {
         return indexes({"a", "b", "B"});
       },
       10424},
      {"constraints, repeated name",
       [&] {
         return constraints({"x", "y"}, false);
       },
       [&] {
         return constraints({"a", "b", "a"}, false);
       },
       10424},
      {"constraints, unknown kind",
       [&] {
         return constraints({"x", "y"}, false);
       },
       [&] {
         return constraints({"a", "b", "c"}, true);
       },
       30035},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto target = c.target();
    auto source = c.source();
    EXPECT_EQ(CodeOf([&] { target->Assign(*source); }), c.code);
    EXPECT_EQ(Names(*target), (std::vector<std::string>{"x", "y"}));
  }
  // A field collection keeps its layout too.
  auto target = fields({"x", "y"});
  const int32_t size = static_cast<TABSFieldDefs&>(*target).MemoryRecordSize();
  EXPECT_EQ(CodeOf([&] { target->Assign(*fields({"a", "b", "a"})); }), 10424);
  EXPECT_EQ(static_cast<TABSFieldDefs&>(*target).MemoryRecordSize(), size);
  EXPECT_EQ(static_cast<TABSFieldDefs&>(*target)[1]->MemoryOffset(), 5);
}

// A field definition whose default cannot be rebuilt (the expression
// parser fails) keeps its own name, type and default.
TEST(DefinitionAssign, AFieldWhoseDefaultFailsToCopyIsLeftAsItWas) {
  TABSFieldDef source;
  source.SetName("nuevo");
  source.SetDataType(aftString, 30);
  TABSVariant text(bftString);
  text.SetAsString("NOW()");
  source.SetDefaultValue(text);
  TABSFieldDef target;
  target.SetName("viejo");
  target.SetDataType(aftInteger);
  TABSVariant seven(bftInteger);
  seven.SetAsInteger(7);
  target.SetDefaultValue(seven);
  SetDefaultExpressionParser([](const TABSVariant&) -> std::unique_ptr<TABSDefaultExpression> {
    throw EABSException(30051, "Cannot cast from '%s' to '%s'", {"STRING", "INTEGER"});
  });
  const int32_t code = CodeOf([&] { target.Assign(source); });
  SetDefaultExpressionParser(nullptr);
  EXPECT_EQ(code, 30051);
  EXPECT_EQ(target.Name(), "viejo");
  EXPECT_EQ(target.DataType(), aftInteger);
  EXPECT_EQ(target.MemoryValueSize(), 4);
  EXPECT_EQ(target.DefaultValue().AsInteger(), 7);
  // Without the failing parser the copy is whole.
  target.Assign(source);
  EXPECT_EQ(target.Name(), "nuevo");
  EXPECT_EQ(target.DataType(), aftString);
  EXPECT_EQ(target.DefaultValue().AsString(), "NOW()");
}

struct Table {
  MapDatabaseData db;
  TABSSessionInfo session;
  MapTableData* data = nullptr;

  Table() {
    db.AttachSession(session);
    session.sessionID = 1;
    data = static_cast<MapTableData*>(&db.FindOrCreateTableData("t"));
    TABSFieldDefs fields;
    for (const char* name : {"a", "b"}) {
      TABSFieldDef* f = fields.AddNew();
      f->SetName(name);
      f->SetDataType(aftInteger);
    }
    data->SetFieldDefs(fields);
    TABSIndexDef ix;
    ix.SetName("por_a");
    ix.unique = true;
    ix.FillColumns({"a"}, {"ASC"}, {"CASE"});
    data->CreateIndex(session, ix);
    TABSConstraintDefs constraints;
    constraints.Assign(data->ConstraintManager().ConstraintDefs());
    constraints.AddNewNotNull()->SubjectSlot().name = "a";
    TABSConstraintDefCheck* check = constraints.AddNewCheck();
    check->SubjectSlot().name = "a";
    check->minValue.SetAsInteger(1);
    data->SetConstraintDefs(constraints);
  }
  std::vector<char> Record(int32_t a) {
    std::vector<char> r(static_cast<size_t>(data->FieldDefs().MemoryRecordSize()));
    data->InitRecordForInsert(r.data());
    TABSVariant v(bftInteger);
    v.SetAsInteger(a);
    WriteFieldValue(data->FieldDefs(), r.data(), 0, v);
    return r;
  }
};

// The constraints that name a renamed field (a NOT NULL, a check, the
// columns of a unique constraint) follow it, so they resolve again; a name
// their slots cannot hold is refused before anything changes.
TEST(DefinitionAssign, RenamingAFieldRenamesTheConstraintSlotsThatNameIt) {
  Table t;
  t.data->RenameField("A", "cantidad");
  TABSConstraintDefs& constraints = t.data->ConstraintManager().ConstraintDefs();
  ASSERT_EQ(constraints.Count(), 3);
  for (int i = 0; i < constraints.Count(); ++i) {
    const TABSConstraintDef& c = *constraints[i];
    SCOPED_TRACE(c.Name());
    if (c.Kind() == actUnique) {
      const auto& u = static_cast<const TABSConstraintDefUnique&>(c);
      ASSERT_EQ(u.columns.size(), 1u);
      EXPECT_EQ(u.columns[0].name, "cantidad");
      EXPECT_EQ(u.SubjectSlot().name, "por_a");
    } else {
      EXPECT_EQ(c.SubjectSlot().name, "cantidad");
    }
  }
  // Resolving again (what a reload does) finds every field.
  EXPECT_EQ(CodeOf([&] { t.data->ConstraintManager().ResolveAndName(); }), 0);
  // The constraints still hold.
  auto r = t.Record(0);
  EXPECT_EQ(CodeOf([&] { t.data->InsertRecord(t.session, r.data()); }), 30029);

  // 255 bytes fit a field name but not a NOT NULL constraint's slot.
  const std::string name255(255, 'n');
  EXPECT_EQ(CodeOf([&] { t.data->RenameField("cantidad", name255); }), 30347);
  EXPECT_EQ(t.data->FieldDefs()[0]->Name(), "cantidad");
  EXPECT_EQ(constraints[1]->SubjectSlot().name, "cantidad");
  // A field no constraint names takes it.
  t.data->RenameField("b", name255);
  EXPECT_EQ(t.data->FieldDefs()[1]->Name(), name255);
}

// Change stamps and counters are compared for equality only: from INT32_MAX
// they step on to INT32_MIN.
TEST(DefinitionAssign, AChangeStampAtInt32MaxStepsOnByWrapping) {
  Table t;
  TABSIndexDef& def = *t.data->IndexManager().IndexDefs()[0];
  def.changeStamp = INT32_MAX;
  auto r = t.Record(5);
  t.data->InsertRecord(t.session, r.data());
  EXPECT_EQ(def.changeStamp, INT32_MIN);
  EXPECT_EQ(NextChangeCount(INT32_MAX), INT32_MIN);
  EXPECT_EQ(NextChangeCount(-1), 0);
}

}  // namespace
