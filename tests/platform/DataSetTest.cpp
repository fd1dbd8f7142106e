// The dataset framework over a vector of rows: navigation at the ends,
// editing with failures and aborts, and what data links hear (and never
// hear after they, their source or their dataset are gone).
#include <gtest/gtest.h>

#include <memory>

#include "support/VectorDataSet.h"

namespace {

using tiv::dataset::DataLink;
using tiv::dataset::DataSetState;
using tiv::dataset::DataSource;
using tiv::dataset::EDatabaseError;
using tiv::dataset::Field;
using tiv::dataset::FieldDataLink;
using tiv::dataset::FieldType;
using tiv::dataset::FieldValue;

std::unique_ptr<VectorDataSet> People(int rows) {
  auto d = std::make_unique<VectorDataSet>(std::vector<tiv::dataset::FieldDef>{
      {"k", FieldType::Integer}, {"name", FieldType::String, 20}, {"active", FieldType::Boolean}});
  for (int i = 1; i <= rows; ++i)
    d->AddRow({FieldValue::Integer(i), FieldValue::Text("p" + std::to_string(i)), FieldValue::Boolean(i % 2)});
  return d;
}

struct Recorder : DataLink {
  std::string log;
  void ActiveChanged() override { log += "A"; }
  void DataSetChanged() override { log += "C"; }
  void DataSetScrolled() override { log += "S"; }
  void RecordChanged(Field* f) override { log += f ? "R(" + f->FieldName() + ")" : "R"; }
  void EditingChanged() override { log += "E"; }
  void UpdateData() override { log += "U"; }
};

TEST(DataSetTest, NavigationAtTheEnds) {
  auto d = People(3);
  d->Open();
  EXPECT_TRUE(d->Bof());
  EXPECT_FALSE(d->Eof());
  EXPECT_EQ(d->FieldByName("K").AsInteger(), 1) << "names compare without case";
  EXPECT_EQ(d->MoveBy(5), 2);
  EXPECT_TRUE(d->Eof());
  EXPECT_EQ(d->FieldByName("k").AsInteger(), 3) << "past the end the last record stays";
  d->Prior();
  EXPECT_EQ(d->FieldByName("k").AsInteger(), 2) << "the step back starts from the current record";
  d->Last();
  EXPECT_TRUE(d->Eof());
  EXPECT_EQ(d->MoveBy(-10), -2);
  EXPECT_TRUE(d->Bof());
  EXPECT_EQ(d->RecordCount(), 3);
  const std::string bookmark = (d->Next(), d->GetBookmark());
  d->Last();
  d->GotoBookmark(bookmark);
  EXPECT_EQ(d->FieldByName("k").AsInteger(), 2);
  EXPECT_THROW(d->GotoBookmark("999"), EDatabaseError);
  EXPECT_EQ(d->FieldByName("k").AsInteger(), 2);
  // An empty dataset: every field NULL, both ends at once.
  auto empty = People(0);
  empty->Open();
  EXPECT_TRUE(empty->Bof() && empty->Eof() && empty->IsEmpty());
  EXPECT_TRUE(empty->FieldByName("name").IsNull());
  EXPECT_EQ(empty->MoveBy(1), 0);
}

TEST(DataSetTest, EditingFailuresAndAborts) {
  auto d = People(3);
  d->Open();
  d->Next();
  d->Edit();
  // A text read as a number, in the locale's form.
  d->FieldByName("name").SetAsString("12,5");
  EXPECT_DOUBLE_EQ(d->FieldByName("name").AsFloat(), 12.5);
  EXPECT_EQ(d->FieldByName("name").AsInteger(), 13);
  d->FieldByName("name").SetAsString("doce");
  EXPECT_THROW(d->FieldByName("name").AsInteger(), EDatabaseError);
  d->FieldByName("name").SetAsString("changed");
  d->failNextPost = true;
  EXPECT_THROW(d->Post(), EDatabaseError);
  EXPECT_EQ(d->State(), DataSetState::Edit);
  EXPECT_EQ(d->FieldByName("name").AsString(), "changed") << "the buffer survives a failed post";
  d->Post();
  EXPECT_EQ(d->rows[1].values[1].s, "changed");
  // The error event chooses: retry (the post runs again and goes through),
  // abort (a silent EAbort), fail (the error itself).
  int heard = 0;
  d->OnPostError = [&](tiv::dataset::DataSet&, const std::exception& e, tiv::dataset::DataSet::DataAction& action) {
    ++heard;
    EXPECT_STREQ(e.what(), "post refused");
    action = heard == 1 ? tiv::dataset::DataSet::DataAction::Retry : tiv::dataset::DataSet::DataAction::Abort;
  };
  d->Edit();
  d->FieldByName("name").SetAsString("retried");
  d->failNextPost = true;
  d->Post();
  EXPECT_EQ(heard, 1);
  EXPECT_EQ(d->rows[1].values[1].s, "retried");
  d->Edit();
  d->failNextPost = true;
  EXPECT_THROW(d->Post(), tiv::dataset::EAbort);
  EXPECT_EQ(d->State(), DataSetState::Edit);
  d->Cancel();
  d->OnPostError = nullptr;
  // A Before event that raises stops the operation.
  d->BeforeDelete = [](tiv::dataset::DataSet&) { throw EDatabaseError("not now"); };
  EXPECT_THROW(d->Delete(), EDatabaseError);
  EXPECT_EQ(d->rows.size(), 3u);
  d->BeforeDelete = nullptr;
  // A move posts a pending change; Cancel drops one.
  d->Insert();
  d->FieldByName("k").SetAsInteger(9);
  d->Next();
  EXPECT_EQ(d->rows.size(), 4u);
  d->Edit();
  d->FieldByName("k").SetAsInteger(100);
  d->Cancel();
  EXPECT_NE(d->rows.back().values[0].i, 100);
  // Deleting every record leaves an empty dataset, never a stale one.
  while (!d->IsEmpty()) d->Delete();
  EXPECT_TRUE(d->FieldByName("k").IsNull());
  EXPECT_THROW(d->Edit(), EDatabaseError);
  EXPECT_THROW(d->Delete(), EDatabaseError);
  // Read-only refuses changes; closed refuses everything.
  d->ReadOnly = true;
  EXPECT_THROW(d->Insert(), EDatabaseError);
  d->Close();
  EXPECT_THROW(d->Next(), EDatabaseError);
  EXPECT_EQ(d->FieldCount(), 0);
}

// Calculated fields are computed for every record read, the grid's
// reading included, and cannot be written otherwise.
TEST(DataSetTest, CalculatedFieldsFollowEveryRecord) {
  auto d = People(3);
  d->AddCalculatedField({"double", FieldType::Integer});
  d->OnCalcFields = [](tiv::dataset::DataSet& ds) {
    ds.FieldByName("double").SetAsInteger(ds.FieldByName("k").AsInteger() * 2);
  };
  d->Open();
  EXPECT_EQ(d->FieldCount(), 4);
  EXPECT_EQ(d->FieldByName("double").AsInteger(), 2);
  d->Last();
  EXPECT_EQ(d->FieldByName("double").AsInteger(), 6);
  std::vector<tiv::dataset::Record> all;
  ASSERT_TRUE(d->ReadAll(all));
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[1].values[3].i, 4);
  d->Edit();
  EXPECT_THROW(d->FieldByName("double").SetAsInteger(1), EDatabaseError);
  d->FieldByName("k").SetAsInteger(10);
  d->Post();
  EXPECT_EQ(d->FieldByName("double").AsInteger(), 20) << "computed again for the record posted";
  EXPECT_EQ(d->rows[2].values.size(), 3u) << "never stored";
  d->Close();
  // A lookup field: the name of the row of another dataset whose k equals
  // this record's k; NULL when there is none; that dataset stays put.
  auto names = People(2);
  names->Open();
  names->Last();
  d->AddLookupField({"other", FieldType::String, 20}, *names, "k", "k", "name");
  d->Open();
  EXPECT_EQ(d->FieldByName("other").AsString(), "p1");
  d->Last();
  EXPECT_TRUE(d->FieldByName("other").IsNull()) << "k = 10 has no match";
  EXPECT_EQ(names->FieldByName("k").AsInteger(), 2);
  EXPECT_THROW(d->AddLookupField({"x", FieldType::String}, *d, "k", "k", "name"), EDatabaseError);
}

TEST(DataSetTest, LinksHearChangesAndNeverOutliveAnything) {
  auto d = People(3);
  DataSource source;
  source.SetDataSet(d.get());
  Recorder r;
  r.SetDataSource(&source);
  r.log.clear();
  d->Open();
  d->Next();
  d->Edit();
  d->FieldByName("name").SetAsString("x");
  d->Post();
  EXPECT_EQ(r.log, "ASERR(name)UEC");
  // Controls disabled: nothing until the last EnableControls, then one
  // change.
  r.log.clear();
  d->DisableControls();
  d->DisableControls();
  d->First();
  d->Last();
  d->EnableControls();
  EXPECT_EQ(r.log, "");
  d->EnableControls();
  EXPECT_EQ(r.log, "C");
  // The field link of a control: Edit puts the dataset into edit mode,
  // UpdateData asks the control for its text before the post.
  FieldDataLink link;
  link.SetDataSource(&source);
  link.SetFieldName("name");
  std::string typed = "typed";
  int shown = 0;
  link.OnDataChange = [&] { ++shown; };
  link.OnUpdateData = [&] { link.GetField()->SetAsString(typed); };
  ASSERT_NE(link.GetField(), nullptr);
  EXPECT_TRUE(link.Edit());
  EXPECT_EQ(d->State(), DataSetState::Edit);
  d->Post();
  EXPECT_EQ(d->FieldByName("name").AsString(), "typed");
  EXPECT_GT(shown, 0);
  d->ReadOnly = true;
  EXPECT_FALSE(link.Edit());
  d->ReadOnly = false;
  // Whatever goes first, no event reaches a destroyed object.
  {
    Recorder shortLived;
    shortLived.SetDataSource(&source);
  }
  d->Next();
  auto early = std::make_unique<DataSource>();
  early->SetDataSet(d.get());
  Recorder orphan;
  orphan.SetDataSource(early.get());
  early.reset();
  EXPECT_EQ(orphan.Source(), nullptr);
  d->First();
  d.reset();
  EXPECT_EQ(source.Data(), nullptr);
  EXPECT_EQ(link.GetField(), nullptr) << "the dataset closed before it went";
}

}  // namespace
