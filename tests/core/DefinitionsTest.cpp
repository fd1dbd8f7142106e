// Field, index and constraint definitions: stored forms, validation,
// lookups, layouts and the index search.
#include <gtest/gtest.h>

#include <string>

#include "core/ZUDBaseEngine.h"
#include "core/ZUDErrorCatalogue.h"
#include "core/ZUDExcept.h"
#include "support/EngineError.h"

namespace {

TABSVariant StringValue(const std::string& s) {
  TABSVariant v(bftString);
  v.SetAsString(s);
  return v;
}

TABSVariant IntValue(int32_t i) {
  TABSVariant v(bftInteger);
  v.SetAsInteger(i);
  return v;
}

// Every data type, a few with defaults, autoincrement and BLOB settings.
void FillAllTypes(TABSFieldDefs& fields) {
  for (int t = 1; t <= 36; ++t) {
    TABSFieldDef* f = fields.AddNew();
    f->SetName("f" + std::to_string(t));
    f->SetObjectID(100 + t);
    const auto type = static_cast<TABSDataType>(t);
    const bool sized = IsStringDataType(type) || IsByteStringDataType(type);
    f->SetDataType(type, sized && type != aftGuid ? t : 0);
    if (IsAutoincDataType(type)) f->SetAutoincSettings(2, 5, 1, 1000, t % 2 == 0);
    if (IsBlobDataType(type)) f->SetBlobSettings(t % 4, static_cast<uint8_t>(t % 9), t == 31 ? 0 : 4096);
    if (type == aftString) f->SetDefaultValue(StringValue("abc"));
    if (type == aftInteger) f->SetDefaultValue(IntValue(-7));
  }
}

void FillIndexes(TABSIndexDefs& indexes) {
  TABSIndexDef* pk = indexes.AddNew();
  pk->SetName("pk");
  pk->SetObjectID(200);
  pk->primary = true;
  pk->unique = true;
  pk->rootPageNo = 17;
  pk->FillColumns({"f7", "f2"}, {"ASC", "DESC"}, {"CASE", "NO_CASE"});
  pk->Column(1).maxIndexedSize = 33;
  TABSIndexDef* temp = indexes.AddNew();
  temp->SetName("TEMPORARY_INDEX_x");
  temp->SetObjectID(201);
  temp->temporary = kTemporaryIndex;
  temp->FillColumns({"f1"}, {"ASC"}, {"CASE"});
  TABSIndexDef* u = indexes.AddNew();
  u->SetName("by_f3");
  u->SetObjectID(202);
  u->unique = true;
  u->FillColumns({"f3"}, {"DESC"}, {"NO_CASE"});
}

void FillConstraints(TABSConstraintDefs& constraints) {
  auto* nn = constraints.AddNewNotNull();
  nn->SetName("nn");
  nn->SetObjectID(300);
  nn->slots[0] = {"first", 9};
  nn->TableSlot() = {"t", -1};
  nn->SubjectSlot() = {"f7", 107};
  auto* ck = constraints.AddNewCheck();
  ck->SetName("ck");
  ck->SetObjectID(301);
  ck->SubjectSlot() = {"f7", 107};
  ck->minValue.Assign(IntValue(1));
  auto* pk = constraints.AddNewPrimary();
  pk->SetName("C_PK$f7$f2");
  pk->SetObjectID(302);
  pk->SubjectSlot() = {"pk", 200};
  pk->columns = {{"f7", 107}, {"f2", 102}};
  auto* u = constraints.AddNewUnique();
  u->SetName("C_Unique$f3");
  u->SetObjectID(303);
  u->SubjectSlot() = {"by_f3", 202};
  u->columns = {{"f3", 103}};
}

std::string SaveAll(const TABSFieldDefs& f, const TABSIndexDefs& i, const TABSConstraintDefs& c) {
  TABSMemoryStream s;
  f.SaveToStream(s);
  i.SaveToStream(s);
  c.SaveToStream(s);
  return s.Bytes();
}

void LoadAll(const std::string& bytes, TABSFieldDefs& f, TABSIndexDefs& i, TABSConstraintDefs& c) {
  TABSMemoryStream s(bytes);
  f.LoadFromStream(s);
  i.LoadFromStream(s);
  c.LoadFromStream(s);
}

}  // namespace

TEST(Definitions, TableStructureRoundTrips) {
  TABSFieldDefs fields;
  TABSIndexDefs indexes;
  TABSConstraintDefs constraints;
  FillAllTypes(fields);
  FillIndexes(indexes);
  FillConstraints(constraints);
  const std::string bytes = SaveAll(fields, indexes, constraints);

  TABSFieldDefs f2;
  TABSIndexDefs i2;
  TABSConstraintDefs c2;
  LoadAll(bytes, f2, i2, c2);
  EXPECT_EQ(SaveAll(f2, i2, c2), bytes);

  ASSERT_EQ(f2.Count(), 36);
  for (int t = 0; t < 36; ++t) {
    SCOPED_TRACE(t + 1);
    EXPECT_EQ(f2[t]->Name(), fields[t]->Name());
    EXPECT_EQ(f2[t]->ObjectID(), fields[t]->ObjectID());
    EXPECT_EQ(f2[t]->DataType(), fields[t]->DataType());
    EXPECT_EQ(f2[t]->StorageType(), fields[t]->StorageType());
    EXPECT_EQ(f2[t]->Size(), fields[t]->Size());
    EXPECT_EQ(f2[t]->MemoryValueSize(), fields[t]->MemoryValueSize());
    EXPECT_EQ(f2[t]->StoredValueSize(), fields[t]->StoredValueSize());
    EXPECT_EQ(f2[t]->MemoryOffset(), fields[t]->MemoryOffset());
    EXPECT_EQ(f2[t]->StoredOffset(), fields[t]->StoredOffset());
  }
  EXPECT_EQ(f2.FieldByName("F2")->DefaultValue().AsString(), "abc");
  EXPECT_EQ(f2.FieldByName("f7")->DefaultValue().AsInteger(), -7);
  const TABSFieldDef* autoinc = f2.FieldByName("f12");
  EXPECT_EQ(autoinc->Increment(), 2);
  EXPECT_EQ(autoinc->InitialValue(), 5);
  EXPECT_EQ(autoinc->MaxValue(), 1000);
  EXPECT_TRUE(autoinc->Cycled());
  EXPECT_EQ(f2.FieldByName("f31")->BlobBlockSize(), kDefaultBlobBlockSize);  // 0 became the default
  EXPECT_EQ(f2.FieldByName("f31")->BlobCompressionAlgorithm(), 3);
  EXPECT_EQ(f2.FieldByName("f32")->BlobCompressionAlgorithm(), 0);  // 32 % 4 == 0: none
  EXPECT_EQ(f2.FieldByName("f33")->BlobCompressionAlgorithm(), 1);

  // The temporary index is neither counted nor stored.
  ASSERT_EQ(i2.Count(), 2);
  EXPECT_EQ(i2[0]->rootPageNo, 17);
  EXPECT_TRUE(i2[0]->primary);
  EXPECT_TRUE(i2[0]->Column(1).descending);
  EXPECT_TRUE(i2[0]->Column(1).caseInsensitive);
  EXPECT_EQ(i2[0]->Column(1).maxIndexedSize, 33);
  EXPECT_EQ(i2[1]->Name(), "by_f3");
  EXPECT_FALSE(i2[1]->IsTemporary());

  ASSERT_EQ(c2.Count(), 4);
  EXPECT_EQ(c2[0]->Kind(), actNotNull);
  EXPECT_EQ(c2[0]->slots[0].name, "first");
  EXPECT_EQ(c2[0]->slots[0].id, 9);
  EXPECT_EQ(static_cast<TABSConstraintDefCheck*>(c2[1])->minValue.AsInteger(), 1);
  EXPECT_TRUE(static_cast<TABSConstraintDefCheck*>(c2[1])->maxValue.IsNull());
  EXPECT_EQ(c2[2]->Kind(), actPrimaryKey);
  EXPECT_EQ(static_cast<TABSConstraintDefUnique*>(c2[2])->columns[1].name, "f2");
  EXPECT_EQ(static_cast<TABSConstraintDefUnique*>(c2[3])->columns[0].id, 103);
}

// Built by hand from the layouts in the headers.
TEST(Definitions, StoredFormMatchesHandBuiltBytes) {
  TABSFieldDefs fields;
  TABSFieldDef* id = fields.AddNew();
  id->SetName("id");
  id->SetObjectID(1);
  id->SetDataType(aftAutoInc);
  TABSIndexDefs indexes;
  TABSIndexDef* ix = indexes.AddNew();
  ix->SetName("ix");
  ix->SetObjectID(2);
  ix->unique = true;
  ix->FillColumns({"id"}, {"DESC"}, {"CASE"});
  TABSConstraintDefs constraints;
  auto* nn = constraints.AddNewNotNull();
  nn->SetName("n");
  nn->SetObjectID(3);
  nn->TableSlot() = {"t", -1};
  nn->SubjectSlot() = {"id", 1};
  auto* u = constraints.AddNewUnique();
  u->SetName("u");
  u->SetObjectID(4);
  u->SubjectSlot() = {"ix", 2};
  u->columns = {{"id", 1}};

  static const char kExpected[] =
      // fields: count 1; "id", id 1, storage 7, data type 12, Size 0
      "\x01\x00\x00\x00"
      "\x02id"
      "\x01\x00\x00\x00"
      "\x07\x0c"
      "\x00\x00\x00\x00"
      // increment 1, initial 0, minimum 0, maximum 2^63-1, cycled 0
      "\x01\x00\x00\x00\x00\x00\x00\x00"
      "\x00\x00\x00\x00\x00\x00\x00\x00"
      "\x00\x00\x00\x00\x00\x00\x00\x00"
      "\xff\xff\xff\xff\xff\xff\xff\x7f"
      "\x00"
      // default: storage type 0, NULL
      "\x00\xff"
      // indexes: count 1; "ix", id 2, kind 0, unique 1, primary 0, 1 column, root -1
      "\x01\x00\x00\x00"
      "\x02ix"
      "\x02\x00\x00\x00"
      "\x00\x01\x00"
      "\x01\x00\x00\x00"
      "\xff\xff\xff\xff"
      // column "id", descending, case-sensitive, max size 20
      "\x02id"
      "\x01\x00"
      "\x14\x00\x00\x00"
      // constraints: count 2; kind 3, "n", id 3, slot ids -1, -1, 1
      "\x02\x00\x00\x00"
      "\x03"
      "\x01n"
      "\x03\x00\x00\x00"
      "\xff\xff\xff\xff"
      "\xff\xff\xff\xff"
      "\x01\x00\x00\x00"
      // slot names with a byte count L + 1: "", "t", "id"
      "\x01\x00"
      "\x02\x01t"
      "\x03\x02id"
      // kind 2, "u", id 4, slot ids -1, -1, 2
      "\x02"
      "\x01u"
      "\x04\x00\x00\x00"
      "\xff\xff\xff\xff"
      "\xff\xff\xff\xff"
      "\x02\x00\x00\x00"
      // slot names with an int32 count L + 1: "", "", "ix"
      "\x01\x00\x00\x00\x00"
      "\x01\x00\x00\x00\x00"
      "\x03\x00\x00\x00\x02ix"
      // 1 column: field id 1, "id"
      "\x01\x00\x00\x00"
      "\x01\x00\x00\x00"
      "\x03\x00\x00\x00\x02id";
  const std::string expected(kExpected, sizeof(kExpected) - 1);
  EXPECT_EQ(SaveAll(fields, indexes, constraints), expected);
}

TEST(Definitions, TruncatedStreamRaisesAtEveryOffset) {
  TABSFieldDefs fields;
  TABSIndexDefs indexes;
  TABSConstraintDefs constraints;
  FillAllTypes(fields);
  FillIndexes(indexes);
  FillConstraints(constraints);
  const std::string bytes = SaveAll(fields, indexes, constraints);
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    TABSFieldDefs f;
    TABSIndexDefs i;
    TABSConstraintDefs c;
    std::string message;
    EXPECT_NE(NativeCodeOf([&] { LoadAll(bytes.substr(0, cut), f, i, c); }, &message), 0)
        << "a stream cut at " << cut << " loaded";
    EXPECT_NE(message.find("Cannot read from stream"), std::string::npos) << cut << ": " << message;
  }
}

// A count the stream cannot hold raises before anything is allocated.
// (Damaged bytes anywhere in a stored structure are the fuzz_definitions
// target's: they load or raise an engine error, never crash.)
TEST(Definitions, ACountTheStreamCannotHoldIsRefusedBeforeAllocating) {
  TABSFieldDefs f;
  TABSMemoryStream huge(std::string("\xff\xff\xff\x7f", 4));
  EXPECT_EQ(NativeCodeOf([&] { f.LoadFromStream(huge); }), 10352);
}

TEST(Definitions, ReadValidation) {
  struct Case {
    const char* what;
    size_t offset;  // into the hand-built field stream below
    std::string replacement;
    int32_t code;
  };
  // count 1, "a", id 1, storage 3, data type 2, Size 10, autoinc part, default
  const std::string good = std::string(
                               "\x01\x00\x00\x00"
                               "\x01"
                               "a"
                               "\x01\x00\x00\x00"
                               "\x03\x02"
                               "\x0a\x00\x00\x00",
                               16) +
                           std::string(33, '\0') + std::string("\x00\xff", 2);
  const Case cases[] = {
      {"unknown data type", 10, std::string("\x03\x25", 2), 30007},
      {"storage type not the data type's", 10, std::string("\x07\x02", 2), 30007},
      {"negative size", 12, std::string("\xff\xff\xff\xff", 4), 30007},
      {"size on an integer", 10, std::string("\x07\x07", 2), 30007},
  };
  {
    TABSFieldDefs f;
    TABSMemoryStream s(good);
    ASSERT_NO_THROW(f.LoadFromStream(s));
    EXPECT_EQ(f[0]->MemoryValueSize(), 11);
  }
  for (const Case& c : cases) {
    std::string bytes = good;
    bytes.replace(c.offset, c.replacement.size(), c.replacement);
    TABSFieldDefs f;
    TABSMemoryStream s(bytes);
    EXPECT_EQ(NativeCodeOf([&] { f.LoadFromStream(s); }), c.code) << c.what;
    EXPECT_EQ(f.Count(), 0) << c.what;
  }
  // A BLOB block size read back must be positive.
  TABSFieldDefs blob;
  blob.AddNew()->SetDataType(aftBlob);
  TABSMemoryStream s;
  blob.SaveToStream(s);
  std::string bytes = s.Bytes();
  bytes.replace(4 + 1 + 4 + 2 + 4 + 2, 4, std::string("\0\0\0\0", 4));
  TABSFieldDefs back;
  TABSMemoryStream in(bytes);
  EXPECT_EQ(NativeCodeOf([&] { back.LoadFromStream(in); }), 10421);
  // An unknown constraint kind, and a slot count that disagrees with its
  // own length byte.
  TABSConstraintDefs constraints;
  TABSMemoryStream kind(std::string("\x01\x00\x00\x00\x01\x00\x00\x00\x00\x00", 10) + std::string(40, '\0'));
  EXPECT_EQ(NativeCodeOf([&] { constraints.LoadFromStream(kind); }), 30316);
  TABSConstraintDefs nn;
  nn.AddNewNotNull()->SubjectSlot().name = "id";
  TABSMemoryStream nnOut;
  nn.SaveToStream(nnOut);
  std::string nnBytes = nnOut.Bytes();
  const size_t lastCount = nnBytes.size() - 4;  // "\x03\x02id"
  nnBytes[lastCount + 1] = '\x05';
  TABSConstraintDefs nnBack;
  TABSMemoryStream nnIn(nnBytes);
  EXPECT_EQ(NativeCodeOf([&] { nnBack.LoadFromStream(nnIn); }), ConstraintNameSlotCode(kNotNullNameReadBase, 2, true));
}

TEST(Definitions, BuildValidation) {
  TABSFieldDef f;
  EXPECT_EQ(NativeCodeOf([&] { f.SetDataType(aftUnknown); }), 30007);
  EXPECT_EQ(NativeCodeOf([&] { f.SetDataType(static_cast<TABSDataType>(37)); }), 30007);
  EXPECT_EQ(NativeCodeOf([&] { f.SetDataType(aftInteger, 4); }), 30007);
  EXPECT_EQ(NativeCodeOf([&] { f.SetDataType(aftString, -1); }), 30007);
  EXPECT_EQ(NativeCodeOf([&] { f.SetDataType(aftString, kMaxDeclaredSize + 1); }), 30007);

  // 255 bytes are the most a name can hold; longer is refused, not cut.
  const std::string name255(255, 'n');
  TABSFieldDefs fields;
  TABSFieldDef* n = fields.AddNew();
  n->SetName(name255);
  n->SetDataType(aftInteger);
  TABSMemoryStream s;
  fields.SaveToStream(s);
  TABSFieldDefs back;
  s.Seek(0);
  back.LoadFromStream(s);
  EXPECT_EQ(back[0]->Name(), name255);
  EXPECT_EQ(NativeCodeOf([&] { n->SetName(name255 + "x"); }), 30453);
  EXPECT_EQ(n->Name(), name255);
  TABSIndexDef ix;
  EXPECT_EQ(NativeCodeOf([&] { ix.SetName(name255 + "x"); }), 20046);
  TABSConstraintDefNotNull c;
  EXPECT_EQ(NativeCodeOf([&] { c.SetName(name255 + "x"); }), 30499);

  EXPECT_EQ(NativeCodeOf([&] { ix.FillColumns({"a", "b"}, {"ASC"}, {"CASE", "CASE"}); }), 10278);
  EXPECT_EQ(NativeCodeOf([&] { ix.FillColumns({"a"}, {"ASC"}, {}); }), 10279);

  // Assign refuses duplicate names; the base collection cannot create items.
  TABSFieldDefs dup;
  dup.AddNew()->SetName("a");
  dup.Add(std::make_unique<TABSFieldDef>());
  dup[1]->SetName("A");
  TABSFieldDefs target;
  EXPECT_EQ(NativeCodeOf([&] { target.Assign(dup); }), 10424);
  TABSMetaObjectDefs plain;
  std::string message;
  EXPECT_NE(NativeCodeOf([&] { plain.AddCreated(); }, &message), 0);
  EXPECT_EQ(message, "The method 'InternalAddCreated' not overrided in class 'TABSMetaObjectDefs'");
}

TEST(Definitions, LayoutsAndLookups) {
  // n integer fields: one null bit each, rounded up to bytes, then 4 bytes each.
  struct Case {
    int fields;
    int bitmap;
    int record;
  };
  for (const Case c : {Case{0, 0, 0}, Case{1, 1, 5}, Case{8, 1, 33}, Case{9, 2, 38}, Case{17, 3, 71}}) {
    TABSFieldDefs fields;
    for (int i = 0; i < c.fields; ++i) fields.AddNew()->SetDataType(aftInteger);
    fields.CalculateOffsets();
    EXPECT_EQ(fields.NullBitmapSize(), c.bitmap) << c.fields;
    EXPECT_EQ(fields.MemoryRecordSize(), c.record) << c.fields;
  }
  TABSFieldDefs fields;
  auto add = [&](const char* name, TABSDataType t, int32_t size = 0) {
    TABSFieldDef* f = fields.AddNew();
    f->SetName(name);
    f->SetObjectID(fields.Count());
    f->SetDataType(t, size);
  };
  add("id", aftAutoInc);
  add("memo", aftMemo);
  add("name", aftString, 10);
  add("when", aftDate);
  fields.CalculateOffsets();
  EXPECT_EQ(fields.FieldByName("memo")->MemoryOffset(), 5);
  EXPECT_EQ(fields.FieldByName("name")->MemoryOffset(), 15);
  EXPECT_EQ(fields.FieldByName("name")->StoredOffset(), 11);
  EXPECT_EQ(fields.FieldByName("when")->MemoryOffset(), 26);
  EXPECT_EQ(fields.FieldByName("when")->StoredOffset(), 22);
  EXPECT_EQ(fields.MemoryRecordSize(), 30);
  EXPECT_EQ(fields.StoredRecordSize(), 26);

  EXPECT_EQ(fields.IndexOfName("ID"), 0);
  EXPECT_EQ(fields.IndexOfName("nope"), -1);
  EXPECT_EQ(fields.FieldByID(3)->Name(), "name");
  EXPECT_EQ(fields.FieldByID(99), nullptr);
  EXPECT_EQ(fields.IndexOfObjectID(4), 3);
}

TEST(Definitions, IndexSearch) {
  TABSFieldDefs fields;
  for (auto [name, type] : {std::pair{"id", aftInteger}, std::pair{"desde", aftDate}, std::pair{"s", aftString}}) {
    TABSFieldDef* f = fields.AddNew();
    f->SetName(name);
    f->SetDataType(type, type == aftString ? 10 : 0);
  }
  TABSIndexDefs indexes;
  TABSIndexDef* temp = indexes.AddNew();
  temp->SetObjectID(1);
  temp->temporary = kTemporaryIndex;
  temp->ownerSessionID = 7;
  temp->FillColumns({"id"}, {"DESC"}, {"CASE"});
  TABSIndexDef* two = indexes.AddNew();
  two->SetObjectID(2);
  two->FillColumns({"id", "desde"}, {"ASC", "ASC"}, {"CASE", "CASE"});
  TABSIndexDef* ci = indexes.AddNew();
  ci->SetObjectID(3);
  ci->FillColumns({"s"}, {"ASC"}, {"NO_CASE"});

  struct Case {
    std::vector<std::string> names, dirs, cases;
    int32_t session;
    int32_t expected;
  };
  const Case cases[] = {
      {{"ID"}, {"ASC"}, {"CASE"}, 1, 2},                              // a 2-column index serves 1 column
      {{"id"}, {"DESC"}, {"CASE"}, 1, -1},                            // ascending column, DESC asked; temp is not ours
      {{"id"}, {"DESC"}, {"CASE"}, 7, 1},                             // our own temporary index
      {{"id", "desde"}, {"ASC", "ASC"}, {"NO_CASE", "CASE"}, 1, -1},  // NO_CASE needs a case-insensitive column
      {{"id", "desde", "s"}, {"ASC", "ASC", "ASC"}, {"CASE", "CASE", "CASE"}, 1, -1},
      {{"s"}, {"ASC"}, {"CASE"}, 1, -1},  // CASE on a string needs case-sensitive
      {{"s"}, {"ASC"}, {"NO_CASE"}, 1, 3},
  };
  for (const Case& c : cases)
    EXPECT_EQ(indexes.FindIndexForColumns(c.names, c.dirs, c.cases, fields, c.session), c.expected)
        << c.names[0] << " " << c.dirs[0];
  EXPECT_EQ(NativeCodeOf([&] { indexes.FindIndexForColumns({"id"}, {}, {"CASE"}, fields, 1); }), 10276);
  EXPECT_EQ(NativeCodeOf([&] { indexes.FindIndexForColumns({"id"}, {"ASC"}, {}, fields, 1); }), 10277);
}

TEST(Definitions, ConstraintsDerivedNamedAndResolved) {
  TABSFieldDefs fields;
  int32_t nextID = 10;
  for (const char* name : {"id", "desde", "coef"}) {
    TABSFieldDef* f = fields.AddNew();
    f->SetName(name);
    f->SetObjectID(nextID++);
    f->SetDataType(aftInteger);
  }
  TABSIndexDefs indexes;
  TIndexDef pk{"pk", "id;desde", "", "", ixPrimary, {}};
  TIndexDef un{"un", "coef", "", "", ixUnique, {}};
  TIndexDef plain{"plain", "desde", "", "", 0, {}};
  for (const TIndexDef* g : {&pk, &un, &plain}) {
    TABSIndexDef* d = indexes.AddNew();
    IndexDefFromGeneric(*g, fields, *d);
    d->SetObjectID(nextID++);
  }
  TABSConstraintDefs constraints;
  TABSVariant low = IntValue(0);
  AddDerivedConstraints({{"coef", true, &low, nullptr}, {"desde", false, nullptr, nullptr}}, fields, indexes,
                        constraints, [&] { return nextID++; });
  ASSERT_EQ(constraints.Count(), 4);
  EXPECT_EQ(constraints[0]->Kind(), actNotNull);
  EXPECT_EQ(constraints[1]->Kind(), actCheck);
  EXPECT_EQ(constraints[2]->Name(), "C_PK$id$desde");
  EXPECT_EQ(constraints[2]->SubjectSlot().name, "pk");
  EXPECT_EQ(constraints[2]->SubjectSlot().id, indexes[0]->ObjectID());
  EXPECT_EQ(constraints[3]->Name(), "C_Unique$coef");
  EXPECT_EQ(constraints[3]->ObjectID(), nextID - 1);

  // Automatic names; a taken name gets a number appended.
  for (int i = 0; i < 2; ++i) constraints[i]->TableSlot().name = "inicial";
  auto* again = constraints.AddNewNotNull();
  again->TableSlot().name = "inicial";
  again->SubjectSlot().name = "coef";
  constraints.NameConstraints();
  EXPECT_EQ(constraints[0]->Name(), "$C_NotNull$inicial$coef");
  EXPECT_EQ(constraints[1]->Name(), "$C_Check$inicial$coef");
  EXPECT_EQ(again->Name().rfind("$C_NotNull$inicial$coef", 0), 0u);
  EXPECT_GT(again->Name().size(), constraints[0]->Name().size());

  // Resolution refreshes identifiers and refuses what the table lacks.
  constraints[0]->SubjectSlot().id = -5;
  constraints.Resolve(fields, indexes);
  EXPECT_EQ(constraints[0]->SubjectSlot().id, fields.FieldByName("coef")->ObjectID());
  struct Case {
    int constraint;
    bool index;  // break the index name, else a field name
    int32_t code;
  };
  for (const Case c : {Case{2, true, 30325}, Case{3, true, 30326}, Case{2, false, 30331}, Case{3, false, 30332},
                       Case{0, false, 30027}}) {
    TABSConstraintDefs copy;
    copy.Assign(constraints);
    TABSConstraintDef* target = copy[c.constraint];
    if (c.index || target->Kind() == actNotNull)
      target->SubjectSlot().name = "missing";
    else
      static_cast<TABSConstraintDefUnique*>(target)->columns[0].name = "missing";
    EXPECT_EQ(NativeCodeOf([&] { copy.Resolve(fields, indexes); }), c.code);
  }
}

TEST(Definitions, GenericIndexDefinitions) {
  TABSFieldDefs fields;
  for (const char* name : {"a", "b", "c"}) {
    TABSFieldDef* f = fields.AddNew();
    f->SetName(name);
    f->SetDataType(aftString, 30);
  }
  TABSIndexDef d;
  IndexDefFromGeneric({"ix", "a, b;c", "B", "", ixUnique | ixCaseInsensitive, {"", "5"}}, fields, d);
  ASSERT_EQ(d.ColumnCount(), 3);
  EXPECT_TRUE(d.unique);
  EXPECT_FALSE(d.primary);
  EXPECT_FALSE(d.Column(0).descending);
  EXPECT_TRUE(d.Column(1).descending);
  EXPECT_TRUE(d.Column(2).caseInsensitive);  // empty list: the option decides
  EXPECT_EQ(d.Column(0).maxIndexedSize, 20);
  EXPECT_EQ(d.Column(1).maxIndexedSize, 5);
  const TIndexDef back = IndexDefToGeneric(d);
  EXPECT_EQ(back.Fields, "a;b;c");
  EXPECT_EQ(back.DescFields, "b");
  EXPECT_EQ(back.Options, ixUnique | ixCaseInsensitive);

  struct Case {
    TIndexDef def;
    int32_t code;
  };
  const Case cases[] = {
      {{"", "a", "", "", 0, {}}, 20048},
      {{"ix", " ; ", "", "", 0, {}}, 20049},
      {{"ix", "a;zz", "", "", 0, {}}, 20050},
  };
  for (const Case& c : cases) {
    TABSIndexDef out;
    EXPECT_EQ(NativeCodeOf([&] { IndexDefFromGeneric(c.def, fields, out); }), c.code) << c.def.Fields;
  }
}
