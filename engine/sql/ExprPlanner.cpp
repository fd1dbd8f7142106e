// Planner services (conjuncts pushed down to operators, equi-join keys,
// select-list pseudonyms) and index services (comparisons an index can
// answer) of expressions.
#include <algorithm>

#include "core/ZUDExcept.h"
#include "sql/ZUDExpressions.h"

namespace {

std::string UpperAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

bool IsConstOrOuter(TABSExprNode* n) {
  if (dynamic_cast<TABSExprNodeConst*>(n)) return true;
  auto* f = dynamic_cast<TABSExprNodeField*>(n);
  return f && f->OuterReference;
}

// The operator with the comparison turned around (5 < x is x > 5).
uint8_t Mirror(uint8_t op) {
  switch (op) {
    case opGreater: return opLower;
    case opLower: return opGreater;
    case opGreaterEqual: return opLowerEqual;
    case opLowerEqual: return opGreaterEqual;
    default: return op;
  }
}

TABSScanConditionType ConditionTypeOf(uint8_t op, bool descending) {
  switch (op) {
    case opEqual: return sctEqual;
    case opGreater: return descending ? sctLower : sctGreater;
    case opLower: return descending ? sctGreater : sctLower;
    case opGreaterEqual: return descending ? sctLowerOrEqual : sctGreaterOrEqual;
    case opLowerEqual: return descending ? sctGreaterOrEqual : sctLowerOrEqual;
    default: return sctNone;
  }
}

bool NameAndSessionFit(const TABSExprNodeField& f, int position, int32_t sessionID, const TABSIndexDef& index) {
  if (position < 0 || position >= index.ColumnCount()) return false;
  if (UpperAscii(f.FieldName) != UpperAscii(index.Column(position).fieldName)) return false;
  if (position == 0 && index.IsTemporary() && index.ownerSessionID != sessionID) return false;
  return true;
}

std::unique_ptr<TABSVariant> CopyOf(const TABSVariant& v) {
  auto copy = std::make_unique<TABSVariant>();
  copy->Assign(v);
  return copy;
}

std::string KeyName(const TABSExprNodeField& f) {
  return f.Qualifier.empty() ? f.FieldName : f.Qualifier + "." + f.FieldName;
}

}  // namespace

TABSExprNodeField* IndexableField(TABSExprNode* node) {
  auto* f = dynamic_cast<TABSExprNodeField*>(node);
  return f && !f->OuterReference ? f : nullptr;
}

// ---- Comparisons and index use -------------------------------------------------------

TABSExprNodeField* TABSExprNodeComparison::IndexColumn(TABSExprNode** other) {
  if (Children.size() != 2 || Quantifier != 0) return nullptr;
  for (int i = 0; i < 2; ++i) {
    TABSExprNodeField* f = IndexableField(Children[i].get());
    if (f && IsConstOrOuter(Children[1 - i].get())) {
      *other = Children[1 - i].get();
      return f;
    }
  }
  return nullptr;
}

bool TABSExprNodeComparison::CanUseIndex(int position, TABSScanConditionType previous, int32_t sessionID,
                                         const TABSIndexDef& index) {
  TABSExprNode* other = nullptr;
  TABSExprNodeField* f = IndexColumn(&other);
  if (!f || !NameAndSessionFit(*f, position, sessionID, index)) return false;
  if (IsBlobStorage(f->StorageType)) return false;
  if (IsStringStorage(f->StorageType)) {
    if (index.Column(position).caseInsensitive != CaseInsensitive) return false;
    if (other->GetSize() >= f->Size) return false;
  }
  if (Prefix || Kind == opNotEqual || Kind < opEqual || Kind > opLowerEqual) return false;
  if (position > 0) return Kind == opEqual && previous == sctEqual;
  return true;
}

void TABSExprNodeComparison::AddSearchConditions(std::vector<TABSScanSearchCondition>& conditions,
                                                 const TABSIndexDef& index) {
  if (index.ColumnCount() == 0) throw EABSException(20057, "Invalid index for search");
  TABSExprNode* other = nullptr;
  TABSExprNodeField* f = IndexColumn(&other);
  if (!f) return;
  const uint8_t op = Children[0].get() == f ? Kind : Mirror(Kind);
  TABSScanSearchCondition c;
  c.IndexID = index.ObjectID();
  c.ConditionType = ConditionTypeOf(op, index.Column(0).descending);
  c.KeyFieldCount = 1;
  c.KeyValues.push_back(CopyOf(other->GetValue()));
  c.Prefix = Prefix;
  c.Node = this;
  conditions.push_back(std::move(c));
}

void TABSExprNodeComparison::AddKeyColumn(TABSScanSearchCondition& condition, const TABSIndexDef& index) {
  (void)index;
  TABSExprNode* other = nullptr;
  if (!IndexColumn(&other)) return;
  condition.KeyValues.push_back(CopyOf(other->GetValue()));
  condition.ExtraNodes.push_back(this);
}

bool TABSExprNodeComparison::IsJoinCondition(TABSExprOperator* left, TABSExprOperator* right) {
  if (Kind != opEqual || Quantifier != 0 || Children.size() != 2 || !left || !right) return false;
  auto* a = dynamic_cast<TABSExprNodeField*>(Children[0].get());
  auto* b = dynamic_cast<TABSExprNodeField*>(Children[1].get());
  if (!a || !b || a->OuterReference || b->OuterReference) return false;
  const size_t al = left->FindFields(a->FieldName, a->Qualifier).size();
  const size_t ar = right->FindFields(a->FieldName, a->Qualifier).size();
  if (al + ar > 1) throw EABSException(10404, "Ambiguous field reference to '%s'", {a->FieldName});
  const size_t bl = left->FindFields(b->FieldName, b->Qualifier).size();
  const size_t br = right->FindFields(b->FieldName, b->Qualifier).size();
  if (bl + br > 1) throw EABSException(10405, "Ambiguous field reference to '%s'", {b->FieldName});
  if (al + ar != 1 || bl + br != 1) return false;
  return al != bl;
}

// ---- IS [NOT] NULL and index use -----------------------------------------------------

bool TABSExprNodeBoolean::CanUseIndex(int position, TABSScanConditionType previous, int32_t sessionID,
                                      const TABSIndexDef& index) {
  if (Kind != opIsNull && Kind != opIsNotNull) return false;
  TABSExprNodeField* f = IndexableField(Children[0].get());
  if (!f || !NameAndSessionFit(*f, position, sessionID, index)) return false;
  if (position > 0) return Kind == opIsNull && previous == sctEqual;
  return true;
}

void TABSExprNodeBoolean::AddSearchConditions(std::vector<TABSScanSearchCondition>& conditions,
                                              const TABSIndexDef& index) {
  if (index.ColumnCount() == 0) throw EABSException(20255, "Invalid index for search");
  TABSScanSearchCondition c;
  c.IndexID = index.ObjectID();
  const bool descending = index.Column(0).descending;
  c.ConditionType = Kind == opIsNull ? sctEqual : (descending ? sctLower : sctGreater);
  c.KeyFieldCount = 1;
  c.KeyValues.push_back(std::make_unique<TABSVariant>());
  c.Node = this;
  conditions.push_back(std::move(c));
}

void TABSExprNodeBoolean::AddKeyColumn(TABSScanSearchCondition& condition, const TABSIndexDef& index) {
  (void)index;
  condition.KeyValues.push_back(std::make_unique<TABSVariant>());
  condition.ExtraNodes.push_back(this);
}

// ---- TABSExpression: planner ------------------------------------------------------------

void TABSExpression::FlattenAnd() {
  if (!root_ || root_->Kind != opAnd) return;
  auto& list = root_->Children;
  for (size_t i = 0; i < list.size();) {
    if (list[i]->Kind != opAnd) {
      ++i;
      continue;
    }
    std::unique_ptr<TABSExprNode> inner = std::move(list[i]);
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
    for (auto& c : inner->Children) list.push_back(std::move(c));
  }
  root_->RefreshDepth();
}

void TABSExpression::PushDown(TABSExprOperator* op, TABSExprOperator* outer, uint8_t side, bool descend,
                              TABSExprRowSource* cursor) {
  if (!op) return;
  if (descend && !op->IsOuterJoin()) {
    if (TABSExprOperator* l = op->LeftChild()) PushDown(l, outer, side, descend, cursor);
    if (TABSExprOperator* r = op->RightChild()) PushDown(r, outer, side, descend, cursor);
  }
  if (!root_) return;
  std::unique_ptr<TABSExprNode> taken;
  if (root_->Kind == opAnd) {
    std::vector<std::unique_ptr<TABSExprNode>> moved;
    auto& list = root_->Children;
    for (size_t i = 0; i < list.size();) {
      if (list[i]->CanEvaluate(op, outer, side, cursor)) {
        moved.push_back(std::move(list[i]));
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
    }
    if (list.empty())
      root_.reset();
    else
      root_->RefreshDepth();
    if (moved.size() == 1) {
      taken = std::move(moved.front());
    } else if (!moved.empty()) {
      auto conjunction = std::make_unique<TABSExprNodeBoolean>(opAnd);
      for (auto& m : moved) conjunction->AddChild(std::move(m));
      taken = std::move(conjunction);
    }
  } else if (root_->CanEvaluate(op, outer, side, cursor)) {
    taken = std::move(root_);
  }
  if (!taken) return;
  auto filter = std::make_unique<TABSExpression>();
  filter->CaseInsensitive = CaseInsensitive;
  filter->PartialCompare = PartialCompare;
  filter->InMemory = InMemory;
  filter->DatabaseName = DatabaseName;
  filter->SessionName = SessionName;
  filter->SetRoot(std::move(taken));
  op->AddFilter(std::move(filter));
}

int TABSExpression::ExtractJoinKeys(TABSExprOperator* left, TABSExprOperator* right, std::vector<std::string>& leftKeys,
                                    std::vector<std::string>& rightKeys) {
  auto take = [&](TABSExprNode& node) {
    auto* a = static_cast<TABSExprNodeField*>(node.Children[0].get());
    auto* b = static_cast<TABSExprNodeField*>(node.Children[1].get());
    const bool aIsLeft = !left->FindFields(a->FieldName, a->Qualifier).empty();
    leftKeys.push_back(KeyName(aIsLeft ? *a : *b));
    rightKeys.push_back(KeyName(aIsLeft ? *b : *a));
  };
  if (!root_) return 0;
  int count = 0;
  if (root_->Kind == opAnd) {
    auto& list = root_->Children;
    for (size_t i = 0; i < list.size();) {
      if (list[i]->IsJoinCondition(left, right)) {
        take(*list[i]);
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
        ++count;
      } else {
        ++i;
      }
    }
    root_->RefreshDepth();
  } else if (root_->IsJoinCondition(left, right)) {
    take(*root_);
    root_.reset();
    count = 1;
  }
  return count;
}

void TABSExpression::ResolvePseudonyms(const std::vector<TABSSelectPseudonym>& items) {
  if (root_) root_->ResolvePseudonyms(items);
}

void TABSExpression::AndWith(TABSExpression& other) {
  if (!other.root_) return;
  if (!root_) {
    root_ = std::move(other.root_);
    return;
  }
  if (root_->Kind != opAnd) {
    auto conjunction = std::make_unique<TABSExprNodeBoolean>(opAnd);
    conjunction->AddChild(std::move(root_));
    root_ = std::move(conjunction);
  }
  root_->AddChild(std::move(other.root_));
  FlattenAnd();
}

bool TABSExpression::ReferencesOnly(const std::string& fieldNames) const {
  if (!root_) return true;
  std::vector<std::string> names;
  std::string cur;
  for (char c : fieldNames + ";") {
    if (c != ';') {
      cur.push_back(c);
      continue;
    }
    const size_t b = cur.find_first_not_of(' '), e = cur.find_last_not_of(' ');
    if (b != std::string::npos) names.push_back(UpperAscii(cur.substr(b, e - b + 1)));
    cur.clear();
  }
  return root_->ReferencesOnly(names);
}

// ---- TABSExpression: index services ---------------------------------------------------------

void TABSExpression::GetSearchConditions(const TABSIndexDefs& indexes, std::vector<TABSScanSearchCondition>& conditions,
                                         int32_t sessionID) {
  if (!root_) return;
  std::vector<TABSExprNode*> pending{root_.get()};
  while (!pending.empty()) {
    TABSExprNode* node = pending.back();
    pending.pop_back();
    if (node->Kind == opAnd) {
      for (auto it = node->Children.rbegin(); it != node->Children.rend(); ++it) pending.push_back(it->get());
      continue;
    }
    const bool candidate =
        (node->Kind >= opEqual && node->Kind <= opLowerEqual) || node->Kind == opIsNull || node->Kind == opIsNotNull;
    if (!candidate) continue;
    for (int i = 0; i < indexes.Count(); ++i) {
      const TABSIndexDef& index = *indexes[i];
      if (node->CanUseIndex(0, sctNone, sessionID, index)) node->AddSearchConditions(conditions, index);
    }
  }
}

bool TABSExpression::ExtendSearchCondition(TABSScanSearchCondition& condition, const TABSIndexDef& index) {
  if (!root_) return false;
  bool added = false;
  auto used = [&](TABSExprNode* n) {
    return n == condition.Node ||
           std::find(condition.ExtraNodes.begin(), condition.ExtraNodes.end(), n) != condition.ExtraNodes.end();
  };
  while (condition.KeyFieldCount < index.ColumnCount()) {
    std::vector<TABSExprNode*> candidates;
    if (root_->Kind == opAnd)
      for (auto& c : root_->Children) candidates.push_back(c.get());
    else
      candidates.push_back(root_.get());
    TABSExprNode* found = nullptr;
    for (TABSExprNode* n : candidates)
      if (!used(n) && n->CanUseIndex(condition.KeyFieldCount, condition.ConditionType, -1, index)) {
        found = n;
        break;
      }
    if (!found) break;
    found->AddKeyColumn(condition, index);
    ++condition.KeyFieldCount;
    added = true;
  }
  return added;
}

void TABSExpression::RemoveNode(TABSExprNode* node) {
  if (!root_ || !node) return;
  if (root_.get() == node) {
    root_.reset();
    return;
  }
  auto& list = root_->Children;
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i].get() == node) {
      list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
      root_->RefreshDepth();
      return;
    }
}

void TABSExpression::RemoveConditionNodes(std::vector<TABSScanSearchCondition>& conditions, int i, int j) {
  std::vector<TABSExprNode*> doomed;
  for (int k : {i, j}) {
    if (k < 0 || static_cast<size_t>(k) >= conditions.size()) continue;
    const auto& c = conditions[static_cast<size_t>(k)];
    if (c.Node) doomed.push_back(c.Node);
    doomed.insert(doomed.end(), c.ExtraNodes.begin(), c.ExtraNodes.end());
  }
  std::sort(doomed.begin(), doomed.end());
  doomed.erase(std::unique(doomed.begin(), doomed.end()), doomed.end());
  for (TABSExprNode* n : doomed) RemoveNode(n);
  // No condition keeps a pointer to a freed node.
  for (auto& c : conditions) {
    if (std::binary_search(doomed.begin(), doomed.end(), c.Node)) c.Node = nullptr;
    std::erase_if(c.ExtraNodes, [&](TABSExprNode* n) { return std::binary_search(doomed.begin(), doomed.end(), n); });
  }
}
