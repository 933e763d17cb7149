#include "engine/storage/zelDataRestructure.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "engine/storage/zelCommonError.h"
#include "engine/storage/zelConsts.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

using plat::TFieldType;

bool IsBlobType(TFieldType T) {
  return T == plat::ftBlob || T == plat::ftMemo || T == plat::ftGraphic || T == plat::ftFmtMemo;
}

bool IsStringType(TFieldType T) {
  return T == plat::ftString || T == plat::ftWideString;
}

// The ";"-separated names of a field list, blanks around each name dropped,
// empty names left out.
std::vector<std::string> SplitNames(const std::string& Names) {
  std::vector<std::string> result;
  size_t start = 0;
  while (start <= Names.size()) {
    size_t end = Names.find(';', start);
    if (end == std::string::npos) end = Names.size();
    std::string name = plat::Trim(Names.substr(start, end - start));
    if (!name.empty()) result.push_back(std::move(name));
    start = end + 1;
  }
  return result;
}

std::string JoinNames(const std::vector<std::string>& Names) {
  std::string result;
  for (size_t i = 0; i < Names.size(); ++i) {
    if (i > 0) result += ';';
    result += Names[i];
  }
  return result;
}

bool SameNameLists(const std::vector<std::string>& A, const std::vector<std::string>& B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i) {
    if (!plat::AnsiSameText(A[i], B[i])) return false;
  }
  return true;
}

// The first def of Defs named Name (any case), or null.
template <class TDefs>
auto FindDefByName(const TDefs& Defs, const std::string& Name) -> decltype(Defs.Items(0)) {
  for (int32_t i = 0; i < Defs.Count(); ++i) {
    if (plat::AnsiSameText(Defs.Items(i)->Name(), Name)) return Defs.Items(i);
  }
  return nullptr;
}

// What the number of requested defs alone says against the current ones.
TDefChangeType CountChange(int32_t Requested, int32_t Current) {
  if (Requested < Current) return dcDeleted;
  if (Requested > Current) return dcAdded;
  return dcNoChange;
}

bool ContainsName(const std::vector<std::string>& Names, const std::string& Name) {
  return std::any_of(Names.begin(), Names.end(),
                     [&](const std::string& n) { return plat::AnsiSameText(n, Name); });
}

// Rewrites a field list with Rename applied to each name.
template <class F>
std::string MapNames(const std::string& Names, F Rename) {
  std::vector<std::string> names = SplitNames(Names);
  for (std::string& name : names) name = Rename(name);
  return JoinNames(names);
}

}  // namespace

bool FieldTypeChangeLosesData(TFieldType New, TFieldType Old) {
  using namespace plat;
  if (New == ftBoolean && Old != ftBoolean) return true;
  if ((New == ftSmallint || New == ftWord) &&
      !(Old == ftSmallint || Old == ftWord || Old == ftBoolean)) {
    return true;
  }
  if ((New == ftInteger || New == ftAutoInc) &&
      (Old == ftFloat || Old == ftCurrency || Old == ftBCD || Old == ftDate || Old == ftTime)) {
    return true;
  }
  if ((New == ftCurrency || New == ftBCD) &&
      (Old == ftFloat || Old == ftTime || Old == ftDateTime)) {
    return true;
  }
  if (IsBlobType(New) != IsBlobType(Old)) return true;
  if (IsStringType(New) != IsStringType(Old)) return true;
  return false;
}

// ---------------------------------------------------------------------------
// Fields.

void TRestructureFieldDef::Assign(const plat::TPersistent* Source) {
  if (const auto* source = dynamic_cast<const TRestructureFieldDef*>(Source)) {
    ChangeStatus_ = source->ChangeStatus_;
    Required_ = source->Required_;
    Size_ = source->Size_;
    Name_ = source->Name_;
    DataType_ = source->DataType_;
    Precision_ = source->Precision_;
    SourceFieldName_ = source->SourceFieldName_;
    return;
  }
  if (const auto* field = dynamic_cast<const plat::TFieldDef*>(Source)) {
    ChangeStatus_ = dcNoChange;
    Required_ = field->Required();
    Size_ = field->Size();
    Name_ = field->Name();
    DataType_ = field->DataType();
    Precision_ = field->Precision();
    SourceFieldName_ = field->Name();
    return;
  }
  plat::TCollectionItem::Assign(Source);
}

void TRestructureFieldDef::AssignTo(plat::TPersistent* Dest) const {
  auto* field = dynamic_cast<plat::TFieldDef*>(Dest);
  if (field == nullptr) {
    plat::TCollectionItem::AssignTo(Dest);
    return;
  }
  field->SetName(Name_);
  field->SetDataType(DataType_);
  field->SetSize(Size_);
  field->SetPrecision(Precision_);
  field->SetRequired(Required_);
}

TRestructureFieldDefs::TRestructureFieldDefs()
    : plat::TCollection(plat::CollectionItemClass<TRestructureFieldDef>()) {}

TRestructureFieldDef* TRestructureFieldDefs::AddAndSetFieldDef(const std::string& Name,
                                                               plat::TFieldType DataType,
                                                               int32_t Size, int32_t Precision,
                                                               bool Required,
                                                               const std::string& SourceFieldName) {
  TRestructureFieldDef* item = AddFieldDef();
  item->SetName(Name);
  item->SetDataType(DataType);
  item->SetSize(Size);
  item->SetPrecision(Precision);
  item->SetRequired(Required);
  item->SetSourceFieldName(SourceFieldName);
  return item;
}

void TRestructureFieldDefs::SwapDefs(int32_t Index1, int32_t Index2) {
  if (Index1 < 0 || Index1 >= Count() || Index2 < 0 || Index2 >= Count()) {
    throw plat::Exception("Invalid Field Def Index in SwapDefs");
  }
  if (Index1 == Index2) return;
  const int32_t low = std::min(Index1, Index2);
  const int32_t high = std::max(Index1, Index2);
  // Moving the later item down shifts the earlier one up by one place.
  Items(high)->SetIndex(low);
  Items(low + 1)->SetIndex(high);
}

TRestructureFieldDef* TRestructureFieldDefs::Find(const std::string& Name) const {
  return FindDefByName(*this, Name);
}

plat::TFieldDef* TRestructureFieldDefs::FindSourceDef(const std::string& SourceName) const {
  if (FieldDefs_ == nullptr) return nullptr;
  const int32_t i = FieldDefs_->IndexOf(SourceName);
  return i < 0 ? nullptr : FieldDefs_->Items(i);
}

bool TRestructureFieldDefs::CheckIfFieldsDeleted() const {
  if (FieldDefs_ == nullptr) return false;
  for (int32_t i = 0; i < FieldDefs_->Count(); ++i) {
    if (Find(FieldDefs_->Items(i)->Name()) == nullptr) return true;
  }
  return false;
}

void TRestructureFieldDefs::Log(const std::string& Line) const {
  if (ChangeLog_ != nullptr) ChangeLog_->Add(Line);
}

void TRestructureFieldDefs::ValidateAgainstOriginalDefs(plat::TFieldDefs* CurrentDefs) {
  static const char* const Context = "TRestructureFieldDefs.ValidateAgainstOriginalDefs";
  FieldDefs_ = CurrentDefs;

  // Every status is worked out before any is stored, so that a fault leaves
  // the descriptors as they were.
  std::vector<TDefChangeType> statuses(static_cast<size_t>(Count()), dcAdded);
  TDefChangeType overall = dcAdded;
  std::vector<std::string> deleted;
  if (CurrentDefs != nullptr) {
    overall = CountChange(Count(), CurrentDefs->Count());
    for (int32_t i = 0; i < Count(); ++i) {
      const TRestructureFieldDef& item = *Items(i);
      TDefChangeType status = dcAdded;
      if (!item.SourceFieldName().empty()) {
        const int32_t s = CurrentDefs->IndexOf(item.SourceFieldName());
        if (s < 0) {
          ZelDatabaseError(0x2185, Context, "Source Def not found: " + item.SourceFieldName(),
                           this);
        }
        const plat::TFieldDef& source = *CurrentDefs->Items(s);
        if (FieldTypeChangeLosesData(item.DataType(), source.DataType())) {
          status = dcDataLoss;
        } else if (item.DataType() == source.DataType() && item.Size() < source.Size()) {
          status = dcDataLoss;
        } else if (item.DataType() == source.DataType() && item.Size() == source.Size()) {
          const bool same = item.Name() == source.Name() && i == source.Index() &&
                            item.Required() == source.Required();
          status = same ? dcNoChange : dcDefOnlyChange;
        } else {
          status = dcDataChange;
        }
      }
      statuses[static_cast<size_t>(i)] = status;
      overall = std::max(overall, status);
    }
    for (int32_t s = 0; s < CurrentDefs->Count(); ++s) {
      const std::string& name = CurrentDefs->Items(s)->Name();
      bool continued = false;
      for (int32_t i = 0; i < Count() && !continued; ++i) {
        continued = !Items(i)->SourceFieldName().empty() &&
                    plat::AnsiSameText(Items(i)->SourceFieldName(), name);
      }
      if (!continued) deleted.push_back(name);
    }
    // A dropped field takes its values with it.
    if (!deleted.empty()) overall = dcDataLoss;
  }

  for (int32_t i = 0; i < Count(); ++i) {
    TRestructureFieldDef& item = *Items(i);
    item.SetChangeStatus(statuses[static_cast<size_t>(i)]);
    Log("Field Def: " + item.Name() + " status: " + DefChangeTypeName(item.ChangeStatus()));
  }
  for (const std::string& name : deleted) {
    Log("Prior Field Def: " + name + " status: " + DefChangeTypeName(dcDeleted));
  }
  ChangeStatus_ = overall;
  Log(std::string("FieldDefs: Change status is - ") + DefChangeTypeName(overall));
}

void TRestructureFieldDefs::Assign(const plat::TPersistent* Source) {
  if (const auto* source = dynamic_cast<const TRestructureFieldDefs*>(Source)) {
    if (source == this) return;
    plat::TCollection::Assign(Source);
    ChangeStatus_ = source->ChangeStatus_;
    AutoIncResetValue_ = source->AutoIncResetValue_;
    ResetAutoIncValue_ = source->ResetAutoIncValue_;
    ChangeLog_ = source->ChangeLog_;
    FieldDefs_ = source->FieldDefs_;
    return;
  }
  if (const auto* fields = dynamic_cast<const plat::TFieldDefs*>(Source)) {
    plat::TCollection::Assign(Source);
    ChangeStatus_ = dcNoChange;
    FieldDefs_ = const_cast<plat::TFieldDefs*>(fields);
    return;
  }
  plat::TCollection::Assign(Source);
}

void TRestructureFieldDefs::AssignTo(plat::TPersistent* Dest) const {
  auto* fields = dynamic_cast<plat::TFieldDefs*>(Dest);
  if (fields == nullptr) {
    plat::TCollection::AssignTo(Dest);
    return;
  }
  fields->Assign(this);
}

// ---------------------------------------------------------------------------
// Indexes.

void TRestructureIndexDef::Assign(const plat::TPersistent* Source) {
  if (const auto* source = dynamic_cast<const TRestructureIndexDef*>(Source)) {
    ChangeStatus_ = source->ChangeStatus_;
    SourceIndexDef_ = source->SourceIndexDef_;
    Name_ = source->Name_;
    Fields_ = source->Fields_;
    CaseInsFields_ = source->CaseInsFields_;
    DescFields_ = source->DescFields_;
    Options_ = source->Options_;
    return;
  }
  if (const auto* index = dynamic_cast<const plat::TIndexDef*>(Source)) {
    ChangeStatus_ = dcNoChange;
    SourceIndexDef_ = const_cast<plat::TIndexDef*>(index);
    Name_ = index->Name();
    Fields_ = index->Fields();
    CaseInsFields_ = index->CaseInsFields();
    DescFields_ = index->DescFields();
    Options_ = index->Options();
    return;
  }
  plat::TCollectionItem::Assign(Source);
}

void TRestructureIndexDef::AssignTo(plat::TPersistent* Dest) const {
  auto* index = dynamic_cast<plat::TIndexDef*>(Dest);
  if (index == nullptr) {
    plat::TCollectionItem::AssignTo(Dest);
    return;
  }
  index->SetName(Name_);
  index->SetFields(Fields_);
  index->SetCaseInsFields(CaseInsFields_);
  index->SetDescFields(DescFields_);
  index->SetOptions(Options_);
}

TRestructureIndexDefs::TRestructureIndexDefs()
    : plat::TCollection(plat::CollectionItemClass<TRestructureIndexDef>()) {}

TRestructureIndexDef* TRestructureIndexDefs::AddAndSetIndexDef(
    const std::string& Name, const std::string& Fields, const std::string& CaseInsFields,
    const std::string& DescFields, plat::TIndexOptions Options, plat::TIndexDef* SourceIndexDef) {
  TRestructureIndexDef* item = AddIndexDef();
  item->SetName(Name);
  item->SetFields(Fields);
  item->SetCaseInsFields(CaseInsFields);
  item->SetDescFields(DescFields);
  item->SetOptions(Options);
  item->SetSourceIndexDef(SourceIndexDef);
  return item;
}

TRestructureIndexDef* TRestructureIndexDefs::Find(const std::string& Name) const {
  return FindDefByName(*this, Name);
}

TRestructureIndexDef* TRestructureIndexDefs::FindSourceDef(const plat::TIndexDef* IndexDef) const {
  if (IndexDef == nullptr) return nullptr;
  for (int32_t i = 0; i < Count(); ++i) {
    if (Items(i)->SourceIndexDef() == IndexDef) return Items(i);
  }
  return nullptr;
}

void TRestructureIndexDefs::DeleteField(const std::string& FieldName) {
  auto without = [&](const std::string& Names) {
    std::vector<std::string> names = SplitNames(Names);
    std::erase_if(names, [&](const std::string& n) { return plat::AnsiSameText(n, FieldName); });
    return JoinNames(names);
  };
  for (int32_t i = Count() - 1; i >= 0; --i) {
    TRestructureIndexDef& item = *Items(i);
    if (!ContainsName(SplitNames(item.Fields()), FieldName)) continue;
    item.SetFields(without(item.Fields()));
    item.SetCaseInsFields(without(item.CaseInsFields()));
    item.SetDescFields(without(item.DescFields()));
    if (SplitNames(item.Fields()).empty()) Delete(i);
  }
}

void TRestructureIndexDefs::ReplaceFieldName(const std::string& OldName,
                                             const std::string& NewName) {
  auto rename = [&](const std::string& Names) {
    return MapNames(
        Names, [&](const std::string& n) { return plat::AnsiSameText(n, OldName) ? NewName : n; });
  };
  for (int32_t i = 0; i < Count(); ++i) {
    TRestructureIndexDef& item = *Items(i);
    item.SetFields(rename(item.Fields()));
    item.SetCaseInsFields(rename(item.CaseInsFields()));
    item.SetDescFields(rename(item.DescFields()));
  }
}

bool TRestructureIndexDefs::CheckForDuplicatePrimaryIndexes() const {
  int32_t primaries = 0;
  for (int32_t i = 0; i < Count(); ++i) {
    if (Items(i)->Options().Contains(plat::ixPrimary)) ++primaries;
  }
  return primaries > 1;
}

void TRestructureIndexDefs::Log(const std::string& Line) const {
  if (ChangeLog_ != nullptr) ChangeLog_->Add(Line);
}

namespace {

// The status of one requested index and the log lines that explain it.
struct TIndexVerdict {
  TDefChangeType Status = dcNoChange;
  std::vector<std::string> Lines;
};

TIndexVerdict ClassifyIndex(const TRestructureIndexDef& Item,
                            const TRestructureFieldDefs& FieldDefs) {
  TIndexVerdict verdict;
  const std::string& name = Item.Name();
  const plat::TIndexDef* source = Item.SourceIndexDef();
  if (source == nullptr) {
    verdict.Status = dcAdded;
    verdict.Lines.push_back("New Index Def: " + name);
    return verdict;
  }
  if (!(Item.Options() == source->Options()) || Item.Index() != source->Index()) {
    verdict.Status = dcDataChange;
    verdict.Lines.push_back("Index Def: " + name + " - Options or position changed");
    return verdict;
  }
  if (!plat::AnsiSameText(name, source->Name())) {
    verdict.Status = dcDefOnlyChange;
    verdict.Lines.push_back("Index Def: " + name + " - Name changed");
  }
  for (const std::string& field : SplitNames(Item.Fields())) {
    const TRestructureFieldDef* requested = FieldDefs.Find(field);
    if (requested == nullptr) {
      throw plat::Exception(plat::Format(
          "The field '%s' in index '%s' was not found in the table field definitions - %s",
          {field, name, Item.Fields()}));
    }
    if (requested->ChangeStatus() >= dcAdded) {
      verdict.Status = dcDataChange;
      verdict.Lines.push_back("Index Def: " + name + " - Changed field: " + field);
      return verdict;
    }
  }
  // Each list as the current index would name it: requested fields by the
  // fields they continue.
  auto asSource = [&](const std::string& Names) {
    return MapNames(Names, [&](const std::string& n) {
      const TRestructureFieldDef* requested = FieldDefs.Find(n);
      return requested != nullptr && !requested->SourceFieldName().empty()
                 ? requested->SourceFieldName()
                 : n;
    });
  };
  const std::pair<const char*, std::pair<std::string, std::string>> lists[] = {
      {"Index Def fields changed: ", {source->Fields(), asSource(Item.Fields())}},
      {"Index Def case insensitive fields changed: ",
       {source->CaseInsFields(), asSource(Item.CaseInsFields())}},
      {"Index Def descending fields changed: ",
       {source->DescFields(), asSource(Item.DescFields())}}};
  for (const auto& [text, pair] : lists) {
    const auto& [before, after] = pair;
    if (!SameNameLists(SplitNames(before), SplitNames(after))) {
      verdict.Status = dcDataChange;
      verdict.Lines.push_back(text + name + " from " + before + " to " + after);
      return verdict;
    }
  }
  return verdict;
}

}  // namespace

void TRestructureIndexDefs::ValidateAgainstOriginalDefs(const plat::TIndexDefs* CurrentDefs,
                                                        const TRestructureFieldDefs& FieldDefs) {
  std::vector<TIndexVerdict> verdicts(static_cast<size_t>(Count()));
  TDefChangeType overall = dcAdded;
  std::vector<std::string> deleted;
  if (CurrentDefs == nullptr) {
    for (auto& verdict : verdicts) verdict.Status = dcAdded;
  } else {
    overall = CountChange(Count(), CurrentDefs->Count());
    for (int32_t i = 0; i < Count(); ++i) {
      verdicts[static_cast<size_t>(i)] = ClassifyIndex(*Items(i), FieldDefs);
      overall = std::max(overall, verdicts[static_cast<size_t>(i)].Status);
    }
    for (int32_t s = 0; s < CurrentDefs->Count(); ++s) {
      if (FindSourceDef(CurrentDefs->Items(s)) == nullptr) {
        deleted.push_back(CurrentDefs->Items(s)->Name());
        overall = std::max(overall, dcDataChange);
      }
    }
  }

  for (int32_t i = 0; i < Count(); ++i) {
    TRestructureIndexDef& item = *Items(i);
    const TIndexVerdict& verdict = verdicts[static_cast<size_t>(i)];
    item.SetChangeStatus(verdict.Status);
    for (const std::string& line : verdict.Lines) Log(line);
    Log("Index Def: '" + item.Name() + "' status: " + DefChangeTypeName(verdict.Status));
  }
  for (const std::string& name : deleted) {
    Log("Prior Index Def: " + name + " status: " + DefChangeTypeName(dcDeleted));
  }
  ChangeStatus_ = overall;
  Log(std::string("IndexDefs: Change status is - ") + DefChangeTypeName(overall));
}

void TRestructureIndexDefs::ValidateNewIndexDefs(const TRestructureFieldDefs& FieldDefs) {
  static const char* const Context = "TRestructureIndexDefs.ValidateNewIndexDefs";
  if (CheckForDuplicatePrimaryIndexes()) {
    ZelDatabaseError(0x270C, Context, SzelOnlySinglePrimaryIndexAllowed, this);
  }
  for (int32_t i = 0; i < Count(); ++i) {
    const TRestructureIndexDef& item = *Items(i);
    const std::vector<std::string> fields = SplitNames(item.Fields());
    if (fields.empty()) {
      ZelDatabaseErrorFmt(0x270C, Context, "Field not found - the index '%s' has no fields",
                          {item.Name()}, this);
    }
    int64_t keySize = 0;
    for (const std::string& field : fields) {
      const TRestructureFieldDef* requested = FieldDefs.Find(field);
      if (requested == nullptr) {
        ZelDatabaseErrorFmt(
            0x270C, Context,
            "The field '%s' in index '%s' was not found in the table field definitions.",
            {field, item.Name()}, this);
      }
      int32_t core = 0;
      try {
        core = CalculateCoreDataSize(requested->DataType());
      } catch (const plat::Exception&) {
        ZelDatabaseErrorFmt(0x270C, Context,
                            "The field '%s' in index '%s' is of a type that cannot be indexed",
                            {field, item.Name()}, this);
      }
      keySize += core;
      if (requested->DataType() == plat::ftString) {
        keySize += std::max(requested->Size(), 0);
      } else if (requested->DataType() == plat::ftWideString) {
        keySize += 2 * static_cast<int64_t>(std::max(requested->Size(), 0));
      }
    }
    if (keySize > MaximumKeySize_) {
      ZelDatabaseErrorFmt(0x270C, Context,
                          "The Index '%s' with fields '%s' has exceeded the maximum key size of %d",
                          {item.Name(), item.Fields(), MaximumKeySize_}, this);
    }
    if (static_cast<int64_t>(fields.size()) > MaximumKeyFieldCount_) {
      ZelDatabaseErrorFmt(
          0x270C, Context,
          "The Index '%s' with fields '%s' has exceeded the maximum key field count of %d",
          {item.Name(), item.Fields(), MaximumKeyFieldCount_}, this);
    }
  }
  Log("IndexDefs: Validation OK");
}

void TRestructureIndexDefs::Assign(const plat::TPersistent* Source) {
  if (const auto* source = dynamic_cast<const TRestructureIndexDefs*>(Source)) {
    if (source == this) return;
    plat::TCollection::Assign(Source);
    ChangeStatus_ = source->ChangeStatus_;
    ChangeLog_ = source->ChangeLog_;
    MaximumKeySize_ = source->MaximumKeySize_;
    MaximumKeyFieldCount_ = source->MaximumKeyFieldCount_;
    return;
  }
  if (dynamic_cast<const plat::TIndexDefs*>(Source) != nullptr) {
    plat::TCollection::Assign(Source);
    ChangeStatus_ = dcNoChange;
    return;
  }
  plat::TCollection::Assign(Source);
}

void TRestructureIndexDefs::AssignTo(plat::TPersistent* Dest) const {
  auto* indexes = dynamic_cast<plat::TIndexDefs*>(Dest);
  if (indexes == nullptr) {
    plat::TCollection::AssignTo(Dest);
    return;
  }
  indexes->Assign(this);
}

}  // namespace zel
