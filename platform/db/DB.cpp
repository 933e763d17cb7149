#include "platform/db/DB.h"

#include <vector>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Published.h"
#include "platform/rtl/Strings.h"

namespace plat {

namespace {

// The names of a ";"-separated field list, blanks around each removed and
// empty entries dropped.
std::vector<std::string> SplitFieldList(std::string_view list) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(';', start);
    if (end == std::string_view::npos) end = list.size();
    std::string name = Trim(list.substr(start, end - start));
    if (!name.empty()) names.push_back(std::move(name));
    start = end + 1;
  }
  return names;
}

// Holds a collection inside BeginUpdate/EndUpdate, so that a change of
// several properties is reported once.
class UpdateScope {
 public:
  explicit UpdateScope(TCollection* collection) : collection_(collection) {
    if (collection_) collection_->BeginUpdate();
  }
  ~UpdateScope() {
    if (collection_) collection_->EndUpdate();
  }
  UpdateScope(const UpdateScope&) = delete;
  UpdateScope& operator=(const UpdateScope&) = delete;

 private:
  TCollection* collection_;
};

bool ListNames(std::string_view list, std::string_view name) {
  for (const auto& item : SplitFieldList(list))
    if (AnsiSameText(item, name)) return true;
  return false;
}

}  // namespace

// ---- TNamedItem / TDefCollection ----

void TNamedItem::SetName(const std::string& Value) {
  if (Value == name_) return;
  if (auto* defs = dynamic_cast<TDefCollection*>(Collection()); defs && !Value.empty()) {
    TNamedItem* other = defs->Find(Value);
    if (other && other != this)
      throw EDatabaseError("Duplicate name '" + Value + "' in " + defs->ClassName());
  }
  name_ = Value;
  Changed(false);
}

const TPropList& TNamedItem::PublishedProperties() const {
  static const TPropList list = TPublished<TNamedItem>(TCollectionItem::PublishedProperties())
                                    .String("Name", &TNamedItem::Name, &TNamedItem::SetName);
  return list;
}

TDefCollection::TDefCollection(TCollectionItemClass ItemClass, TPersistent* DataSet)
    : TCollection(std::move(ItemClass), DataSet) {}

int32_t TDefCollection::IndexOf(std::string_view Name) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (AnsiSameText(static_cast<TNamedItem*>(TCollection::Items(i))->Name(), Name)) return i;
  return -1;
}

TNamedItem* TDefCollection::Find(std::string_view Name) const {
  int32_t i = IndexOf(Name);
  return i < 0 ? nullptr : static_cast<TNamedItem*>(TCollection::Items(i));
}

void TDefCollection::Update(TCollectionItem* Item) {
  TCollection::Update(Item);
  updated_ = false;
  if (OnUpdate) OnUpdate(this);
}

// ---- TFieldDef / TFieldDefs ----

void TFieldDef::SetDataType(TFieldType Value) {
  dataType_ = Value;
  Changed(false);
}

void TFieldDef::SetSize(int32_t Value) {
  size_ = Value;
  Changed(false);
}

void TFieldDef::SetPrecision(int32_t Value) {
  precision_ = Value;
  Changed(false);
}

void TFieldDef::SetAttributes(TFieldAttributes Value) {
  attributes_ = Value;
  Changed(false);
}

void TFieldDef::SetRequired(bool Value) {
  TFieldAttributes attributes = attributes_;
  if (Value)
    attributes.Include(faRequired);
  else
    attributes.Exclude(faRequired);
  SetAttributes(attributes);
}

void TFieldDef::Assign(const TPersistent* Source) {
  auto* source = dynamic_cast<const TFieldDef*>(Source);
  if (!source) {
    TNamedItem::Assign(Source);
    return;
  }
  if (source == this) return;
  UpdateScope scope(Collection());
  SetName(source->Name());  // may refuse a duplicate name: nothing changed then
  dataType_ = source->dataType_;
  size_ = source->size_;
  precision_ = source->precision_;
  attributes_ = source->attributes_;
  fieldNo_ = source->fieldNo_;
  Changed(false);
}

const TPropList& TFieldDef::PublishedProperties() const {
  static const TPropList list =
      TPublished<TFieldDef>(TNamedItem::PublishedProperties())
          .Set("Attributes", &TFieldDef::Attributes, &TFieldDef::SetAttributes,
               {"faHiddenCol", "faReadonly", "faRequired", "faLink", "faUnNamed", "faFixed"},
               TFieldAttributes{})
          .Enumeration("DataType", &TFieldDef::DataType, &TFieldDef::SetDataType,
                       std::vector<std::string>(FieldTypeIdents.begin(), FieldTypeIdents.end()),
                       ftUnknown)
          .Integer("Precision", &TFieldDef::Precision, &TFieldDef::SetPrecision, 0)
          .Integer("Size", &TFieldDef::Size, &TFieldDef::SetSize, 0);
  return list;
}

TFieldDefs::TFieldDefs(TPersistent* DataSet)
    : TDefCollection(CollectionItemClass<TFieldDef>(), DataSet) {}

TFieldDef* TFieldDefs::AddFieldDef() {
  return static_cast<TFieldDef*>(TCollection::Add());
}

TFieldDef* TFieldDefs::Add(const std::string& Name, TFieldType DataType, int32_t Size,
                           bool Required) {
  // Checked before adding, so a refused definition leaves nothing behind.
  if (Name.empty()) throw EDatabaseError("Field name missing");
  if (IndexOf(Name) >= 0) throw EDatabaseError("Duplicate name '" + Name + "' in TFieldDefs");
  UpdateScope scope(this);
  TFieldDef* def = AddFieldDef();
  def->SetName(Name);
  def->SetDataType(DataType);
  def->SetSize(Size);
  def->SetRequired(Required);
  def->SetFieldNo(Count());
  return def;
}

TFieldDef* TFieldDefs::Find(std::string_view Name) const {
  auto* def = static_cast<TFieldDef*>(TDefCollection::Find(Name));
  if (!def) throw EDatabaseError("Field '" + std::string(Name) + "' not found");
  return def;
}

TFieldDef* TFieldDefs::Items(int32_t Index) const {
  return static_cast<TFieldDef*>(TCollection::Items(Index));
}

// ---- TIndexDef / TIndexDefs ----

void TIndexDef::SetFields(const std::string& Value) {
  fields_ = Value;
  Changed(false);
}

void TIndexDef::SetCaseInsFields(const std::string& Value) {
  caseInsFields_ = Value;
  Changed(false);
}

void TIndexDef::SetDescFields(const std::string& Value) {
  descFields_ = Value;
  Changed(false);
}

void TIndexDef::SetOptions(TIndexOptions Value) {
  options_ = Value;
  Changed(false);
}

void TIndexDef::SetSource(const std::string& Value) {
  source_ = Value;
  Changed(false);
}

bool TIndexDef::IsCaseInsensitiveField(std::string_view FieldName) const {
  if (SplitFieldList(caseInsFields_).empty()) return options_.Contains(ixCaseInsensitive);
  return ListNames(caseInsFields_, FieldName);
}

void TIndexDef::Assign(const TPersistent* Source) {
  auto* source = dynamic_cast<const TIndexDef*>(Source);
  if (!source) {
    TNamedItem::Assign(Source);
    return;
  }
  if (source == this) return;
  UpdateScope scope(Collection());
  SetName(source->Name());  // may refuse a duplicate name: nothing changed then
  fields_ = source->fields_;
  caseInsFields_ = source->caseInsFields_;
  descFields_ = source->descFields_;
  options_ = source->options_;
  source_ = source->source_;
  Changed(false);
}

const TPropList& TIndexDef::PublishedProperties() const {
  static const TPropList list =
      TPublished<TIndexDef>(TNamedItem::PublishedProperties())
          .String("CaseInsFields", &TIndexDef::CaseInsFields, &TIndexDef::SetCaseInsFields)
          .String("DescFields", &TIndexDef::DescFields, &TIndexDef::SetDescFields)
          .String("Fields", &TIndexDef::Fields, &TIndexDef::SetFields)
          .Set("Options", &TIndexDef::Options, &TIndexDef::SetOptions,
               {"ixPrimary", "ixUnique", "ixDescending", "ixCaseInsensitive", "ixExpression",
                "ixNonMaintained"},
               TIndexOptions{})
          .String("Source", &TIndexDef::Source, &TIndexDef::SetSource);
  return list;
}

TIndexDefs::TIndexDefs(TPersistent* DataSet)
    : TDefCollection(CollectionItemClass<TIndexDef>(), DataSet) {}

TIndexDef* TIndexDefs::AddIndexDef() {
  return static_cast<TIndexDef*>(TCollection::Add());
}

TIndexDef* TIndexDefs::Add(const std::string& Name, const std::string& Fields,
                           TIndexOptions Options) {
  if (!Name.empty() && IndexOf(Name) >= 0)
    throw EDatabaseError("Duplicate name '" + Name + "' in TIndexDefs");
  UpdateScope scope(this);
  TIndexDef* def = AddIndexDef();
  def->SetName(Name);
  def->SetFields(Fields);
  def->SetOptions(Options);
  return def;
}

TIndexDef* TIndexDefs::Find(std::string_view Name) const {
  auto* def = static_cast<TIndexDef*>(TDefCollection::Find(Name));
  if (!def) throw EDatabaseError("Index '" + std::string(Name) + "' not found");
  return def;
}

TIndexDef* TIndexDefs::Items(int32_t Index) const {
  return static_cast<TIndexDef*>(TCollection::Items(Index));
}

TIndexDef* TIndexDefs::GetIndexForFields(std::string_view Fields, bool CaseInsensitive) const {
  const std::vector<std::string> wanted = SplitFieldList(Fields);
  if (wanted.empty()) return nullptr;
  for (bool exact : {true, false}) {
    for (int32_t i = 0; i < Count(); ++i) {
      TIndexDef* def = Items(i);
      if (def->Options().Contains(ixExpression)) continue;
      const std::vector<std::string> have = SplitFieldList(def->Fields());
      if (exact ? have.size() != wanted.size() : have.size() <= wanted.size()) continue;
      bool match = true;
      for (size_t k = 0; match && k < wanted.size(); ++k) {
        match = AnsiSameText(have[k], wanted[k]);
        if (match && CaseInsensitive) match = def->IsCaseInsensitiveField(wanted[k]);
      }
      if (match) return def;
    }
  }
  return nullptr;
}

TIndexDef* TIndexDefs::FindIndexForFields(std::string_view Fields) const {
  TIndexDef* def = GetIndexForFields(Fields, false);
  if (!def) throw EDatabaseError("No index for fields '" + std::string(Fields) + "'");
  return def;
}

}  // namespace plat
