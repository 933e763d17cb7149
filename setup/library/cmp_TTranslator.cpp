#include "setup/library/cmp_TTranslator.h"

#include "platform/rtl/ComponentText.h"

#include <cstdlib>

#include "platform/forms/Forms.h"
#include "platform/forms/StdCtrls.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Published.h"
#include "platform/rtl/Strings.h"
#include "platform/win/WinSystem.h"
#include "setup/library/cmp_TTranslateControls.h"

namespace setup {

namespace {

using plat::Exception;

// The global translator: the first one made, while it lives.
TTranslator*& Global() {
  static TTranslator* translator = nullptr;
  return translator;
}

struct LanguageRow {
  TTrevLanguage ident;
  const char* property;
  const char* resource;
  const char* file;
};

const LanguageRow kLanguages[] = {
    {tlChineseSimplified, "lgChineseSimplified", "BM_LANG_SIMPCHINESE", "trviChineseSimplified.txt"},
    {tlChineseTraditional, "lgChineseTraditional", "BM_LANG_CHINESE_TRADITIONAL",
     "trviChineseTraditional.txt"},
    {tlCzech, "lgCzech", "BM_LANG_CZECH", "trviCzech.txt"},
    {tlDanish, "lgDanish", "BM_LANG_DANISH", "trviDanish.txt"},
    {tlDutch, "lgDutch", "BM_LANG_DUTCH", "trviDutch.txt"},
    {tlEnglish, "lgEnglish", "BM_LANG_ENGLISH", "trviEnglish.txt"},
    {tlFrench, "lgFrench", "BM_LANG_FRENCH", "trviFrench.txt"},
    {tlGerman, "lgGerman", "BM_LANG_GERMAN", "trviGerman.txt"},
    {tlGreek, "lgGreek", "BM_LANG_GREEK", "trviGreek.txt"},
    {tlHebrew, "lgHebrew", "BM_LANG_HEBREW", "trviHebrew.txt"},
    {tlItalian, "lgItalian", "BM_LANG_ITALIAN", "trviItalian.txt"},
    {tlJapanese, "lgJapanese", "BM_LANG_JAPANESE", "trviJapanese.txt"},
    {tlKorean, "lgKorean", "BM_LANG_KOREAN", "trviKorean.txt"},
    {tlNorwegianBokmal, "lgNorwegianBokmal", "BM_LANG_NORWEGIAN_BOKMAL", "trviNorwegianBokmal.txt"},
    {tlNorwegianNynorsk, "lgNorwegianNynorsk", "BM_LANG_NORWEGIAN_NYNORSK", "trviNorwegianNynorsk.txt"},
    {tlPolish, "lgPolish", "BM_LANG_POLISH", "trviPolish.txt"},
    {tlPortugese, "lgPortugese", "BM_LANG_PORTUGESE", "trviPortugese.txt"},
    {tlRussian, "lgRussian", "BM_LANG_RUSSIAN", "trviRussian.txt"},
    {tlSpanish, "lgSpanish", "BM_LANG_SPANISH", "trviSpanish.txt"},
    {tlSwedish, "lgSwedish", "BM_LANG_SWEDISH", "trviSwedish.txt"},
    {tlVietnamese, "lgVietnamese", "BM_LANG_VIETNAMESE", "trviVietnamese.txt"},
};

const std::vector<std::string>& LanguageNames() {
  static const std::vector<std::string> names = {
      "tlChineseSimplified", "tlChineseTraditional", "tlCzech",   "tlDanish",   "tlDutch",
      "tlEnglish",           "tlFrench",             "tlGerman",  "tlGreek",    "tlHebrew",
      "tlItalian",           "tlJapanese",           "tlKorean",  "tlNorwegianBokmal",
      "tlNorwegianNynorsk",  "tlPolish",             "tlPortugese", "tlRussian", "tlSpanish",
      "tlSwedish",           "tlUser",               "tlVietnamese"};
  return names;
}

[[noreturn]] void BadLine(int32_t index, const std::string& line, const char* format) {
  throw Exception(plat::Format("The %d'th string (%s) does not have the proper format of " +
                                   std::string(format),
                               {index, line}));
}

int32_t ParseGLID(const std::string& field, int32_t index, const std::string& line) {
  if (field.empty()) BadLine(index, line, "GLID;Text");
  int32_t glid = 0;
  if (!plat::TryStrToInt(field, glid)) BadLine(index, line, "GLID;Text or .GLID;");
  return glid;
}

// Hides a control for the time it is translated (forms and images stay as
// they are), switches a label's AutoSize off, and puts both back however the
// translation ends.
class TranslationScope {
 public:
  explicit TranslationScope(plat::TComponent* component) {
    control_ = dynamic_cast<plat::TControl*>(component);
    if (control_ == nullptr || dynamic_cast<plat::TCustomForm*>(control_) != nullptr ||
        dynamic_cast<plat::TImage*>(control_) != nullptr) {
      control_ = nullptr;
      return;
    }
    wasVisible_ = control_->Visible();
    control_->SetVisible(false);
    label_ = dynamic_cast<plat::TLabel*>(control_);
    if (label_ != nullptr) {
      wasAutoSize_ = label_->AutoSize();
      label_->SetAutoSize(false);
    }
  }
  TranslationScope(const TranslationScope&) = delete;
  TranslationScope& operator=(const TranslationScope&) = delete;
  ~TranslationScope() {
    if (control_ == nullptr) return;
    if (label_ != nullptr) label_->SetAutoSize(wasAutoSize_);
    control_->SetVisible(wasVisible_);
    if (auto* windowed = dynamic_cast<plat::TWinControl*>(control_)) windowed->Realign();
  }

 private:
  plat::TControl* control_ = nullptr;
  plat::TLabel* label_ = nullptr;
  bool wasVisible_ = true;
  bool wasAutoSize_ = false;
};

// Sets TranslateIntoLanguage for a call and puts it back afterwards.
class IntoScope {
 public:
  IntoScope(TTranslator& translator, TTrevLanguage into)
      : translator_(translator), saved_(translator.TranslateIntoLanguage()) {
    translator_.SetTranslateIntoLanguage(into);
  }
  IntoScope(const IntoScope&) = delete;
  IntoScope& operator=(const IntoScope&) = delete;
  ~IntoScope() {
    try {
      translator_.SetTranslateIntoLanguage(saved_);
    } catch (...) {
      // A change handler failing here must not replace the call's own outcome.
    }
  }

 private:
  TTranslator& translator_;
  TTrevLanguage saved_;
};

}  // namespace

// ---------------------------------------------------------------- elements

TLanguageString::TLanguageString(int32_t GLID, TLanguage* Language, int32_t LineIndex,
                                 const std::string& Text)
    : TLanguageElement(GLID, Language, LineIndex), Text(Text) {
  // At most 255 bytes, never half a character.
  if (this->Text.size() <= 255) return;
  size_t end = 255;
  while (end > 0 && (static_cast<unsigned char>(this->Text[end]) & 0xC0) == 0x80) --end;
  this->Text.resize(end);
}

// ---------------------------------------------------------------- TLangFormatStrings

void TLangFormatStrings::Reparse() {
  if (language_.autoParse_ && UpdateCount() == 0) language_.Parse();
}

template <class F>
void TLangFormatStrings::LoadOnce(F&& load) {
  if (!language_.autoParse_) {
    load();
    return;
  }
  language_.autoParse_ = false;
  try {
    load();
  } catch (...) {
    language_.autoParse_ = true;
    throw;
  }
  language_.autoParse_ = true;
  language_.Parse();
}

int32_t TLangFormatStrings::AddObject(const std::string& S, plat::TObject* AObject) {
  const int32_t index = TStringList::AddObject(S, AObject);
  Reparse();
  return index;
}

void TLangFormatStrings::InsertObject(int32_t Index, const std::string& S, plat::TObject* AObject) {
  TStringList::InsertObject(Index, S, AObject);
  Reparse();
}

void TLangFormatStrings::Clear() {
  TStringList::Clear();
  Reparse();
}

void TLangFormatStrings::Move(int32_t CurIndex, int32_t NewIndex) {
  TStringList::Move(CurIndex, NewIndex);
  Reparse();
}

void TLangFormatStrings::Delete(int32_t Index) {
  TStringList::Delete(Index);
  for (auto& string : language_.strings_) {
    if (string->LineIndex > Index) --string->LineIndex;
  }
}

void TLangFormatStrings::LoadFromStream(plat::TStream& Stream) {
  LoadOnce([&] { TStringList::LoadFromStream(Stream); });
}

void TLangFormatStrings::Assign(const plat::TPersistent* Source) {
  LoadOnce([&] { TStringList::Assign(Source); });
}

void TLangFormatStrings::LoadFromFile(const std::string& FileName) {
  LoadOnce([&] { TStringList::LoadFromFile(FileName); });
}

void TLangFormatStrings::SetUpdateState(bool Updating) {
  TStringList::SetUpdateState(Updating);
  if (!Updating) Reparse();
}

// ---------------------------------------------------------------- TLanguage

TLanguage::TLanguage(TTranslator* Translator, std::string ResourceName, std::string FileName,
                     TTrevLanguage Ident)
    : translator_(Translator),
      resourceName_(std::move(ResourceName)),
      fileName_(std::move(FileName)),
      ident_(Ident),
      text_(*this) {}

TLanguage::~TLanguage() {
  autoParse_ = false;
}

const plat::TPropList& TLanguage::PublishedProperties() const {
  static const plat::TPropList list =
      plat::TPublished<TLanguage>()
          .Persistent("Font", [](TLanguage& l) -> plat::TFont& { return l.Font(); })
          .Boolean("FontOverride", &TLanguage::FontOverride, &TLanguage::SetFontOverride, false)
          .Strings("Strings", [](TLanguage& l) -> plat::TStrings& { return l.Text(); });
  return list;
}

void TLanguage::Assign(const plat::TPersistent* Source) {
  if (const auto* other = dynamic_cast<const TLanguage*>(Source)) {
    font_.Assign(&other->font_);
    fontOverride_ = other->fontOverride_;
    text_.Assign(&other->text_);
    return;
  }
  TPersistent::Assign(Source);
}

void TLanguage::Clear() {
  strings_.clear();
  memos_.clear();
}

TLanguageString* TLanguage::StringByGLID(int32_t GLID) const {
  for (const auto& s : strings_) {
    if (s->GLID == GLID) return s.get();
  }
  return nullptr;
}

TLanguageMemo* TLanguage::MemoByGLID(int32_t GLID) const {
  for (const auto& m : memos_) {
    if (m->GLID == GLID) return m.get();
  }
  return nullptr;
}

TLanguageString* TLanguage::FindString(const std::string& Text) const {
  for (const auto& s : strings_) {
    if (plat::AnsiSameText(s->Text, Text)) return s.get();
  }
  return nullptr;
}

TLanguageMemo* TLanguage::FindMemo(const plat::TStrings& Lines) const {
  const std::string text = Lines.Text();
  for (const auto& m : memos_) {
    if (m->Lines.Text() == text) return m.get();
  }
  return nullptr;
}

void TLanguage::Parse() {
  Clear();
  try {
    bool inMemo = false;
    std::unique_ptr<TLanguageMemo> memo;
    for (int32_t i = 0; i < text_.Count(); ++i) {
      const std::string line = plat::Trim(text_.Strings(i));
      if (line.empty()) continue;
      if (line == "#") {
        if (!inMemo) {
          throw Exception(plat::Format(
              "Found the end of memo marker # at line %d. Was not in a memo however", {i}));
        }
        memos_.push_back(std::move(memo));
        inMemo = false;
        continue;
      }
      if (line[0] == '*') continue;
      if (inMemo) {
        memo->Lines.Add(line);
        continue;
      }
      const size_t first = line.find(';');
      if (line[0] == '#') {
        const std::string field = line.substr(1, first == std::string::npos ? std::string::npos : first - 1);
        memo = std::make_unique<TLanguageMemo>(ParseGLID(field, i, line), this, i);
        inMemo = true;
        continue;
      }
      const std::string field = line.substr(0, first);
      const int32_t glid = ParseGLID(field, i, line);
      std::string text;
      if (first != std::string::npos) {
        const size_t second = line.find(';', first + 1);
        text = line.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
      }
      if (plat::Trim(text).empty()) BadLine(i, line, "GLID;Text");
      strings_.push_back(std::make_unique<TLanguageString>(glid, this, i, text));
    }
  } catch (...) {
    Clear();
    throw;
  }
}

// ---------------------------------------------------------------- TTranslator

TTranslator::TTranslator(plat::TComponent* AOwner) : TComponent(AOwner) {
  for (const LanguageRow& row : kLanguages) {
    languages_.push_back(std::make_unique<TLanguage>(this, row.resource, row.file, row.ident));
  }
  into_ = tlUser;
  if (Global() == nullptr) Global() = this;
}

TTranslator::~TTranslator() {
  if (Global() == this) Global() = nullptr;
}

const plat::TPropList& TTranslator::PublishedProperties() const {
  static const plat::TPropList list = [this] {
    plat::TPublished<TTranslator> published(TComponent::PublishedProperties());
    for (const LanguageRow& row : kLanguages) {
      const TTrevLanguage ident = row.ident;
      published.Persistent(row.property,
                           [ident](TTranslator& t) -> TLanguage& { return t.Owned(ident); });
    }
    published.Enumeration("TranslateIntoLanguage", &TTranslator::TranslateIntoLanguage,
                          &TTranslator::SetTranslateIntoLanguage, LanguageNames(), tlUser);
    return plat::TPropList(published);
  }();
  return list;
}

TLanguage* TTranslator::LanguageByIdent(TTrevLanguage Ident) const {
  for (const auto& language : languages_) {
    if (language->LanguageIdent() == Ident) return language.get();
  }
  return nullptr;
}

TLanguage* TTranslator::UserLanguage() const {
  try {
    return LanguageByIdent(LanguageOfLangID(UserDefaultLangID()));
  } catch (...) {
    // Not knowing the user's language means translating nothing.
    return nullptr;
  }
}

TLanguage* TTranslator::TargetLanguage() const {
  return into_ == tlUser ? UserLanguage() : LanguageByIdent(into_);
}

TLanguage* TTranslator::SourceLanguage(TTrevLanguage Source) const {
  return Source == tlUser ? UserLanguage() : LanguageByIdent(Source);
}

void TTranslator::SetTranslateIntoLanguage(TTrevLanguage Value) {
  into_ = Value;
  if (OnChange) OnChange(this);
}

std::string TTranslator::TranslateString(TTrevLanguage Source, const std::string& Text) const {
  const TLanguage* source = SourceLanguage(Source);
  const TLanguageString* found = source == nullptr ? nullptr : source->FindString(Text);
  if (found == nullptr) return Text;
  const TLanguage* target = TargetLanguage();
  const TLanguageString* translated = target == nullptr ? nullptr : target->StringByGLID(found->GLID);
  return translated == nullptr ? Text : translated->Text;
}

std::string TTranslator::TranslateGLID(int32_t GLID, const std::string& Default) const {
  const TLanguage* target = TargetLanguage();
  const TLanguageString* found = target == nullptr ? nullptr : target->StringByGLID(GLID);
  return found == nullptr ? Default : found->Text;
}

void TTranslator::TranslateMemo(TTrevLanguage Source, const plat::TStrings& Lines,
                                plat::TStrings& Result) const {
  Result.Assign(&Lines);
  const TLanguage* source = SourceLanguage(Source);
  const TLanguageMemo* found = source == nullptr ? nullptr : source->FindMemo(Lines);
  if (found == nullptr) return;
  const TLanguage* target = TargetLanguage();
  const TLanguageMemo* translated = target == nullptr ? nullptr : target->MemoByGLID(found->GLID);
  if (translated != nullptr) Result.Assign(&translated->Lines);
}

TTrevLanguage TTranslator::TranslateComponent(TTrevLanguage Source, plat::TComponent* Component) {
  if (Component != nullptr) TranslateOne(Source, Component);
  const TLanguage* target = TargetLanguage();
  return target == nullptr || target->Text().Count() == 0 ? Source : into_;
}

void TTranslator::TranslateOne(TTrevLanguage Source, plat::TComponent* Component) {
  TranslationScope scope(Component);
  auto* label = dynamic_cast<TTranslateLabel*>(Component);
  auto* button = dynamic_cast<TTranslateBitBtn*>(Component);
  if (label != nullptr && label->GLID() > 0) {
    label->SetCaption(TranslateGLID(label->GLID(), label->Caption()));
  } else if (button != nullptr && button->GLID() > 0) {
    button->SetCaption(TranslateGLID(button->GLID(), button->Caption()));
  } else {
    for (const plat::TPropInfo& info : Component->PublishedProperties()) {
      if (info.Kind != plat::pkString || plat::SameText(info.Name, "NAME")) continue;
      const std::string value = std::get<std::string>(info.Get(*Component));
      if (plat::Trim(value).empty()) continue;
      info.Set(*Component, plat::TPropValue(TranslateString(Source, value)));
    }
    if (auto* memo = dynamic_cast<plat::TMemo*>(Component)) {
      plat::TStringList result;
      TranslateMemo(Source, memo->Lines(), result);
      memo->Lines().Assign(&result);
    }
    if (dynamic_cast<plat::TListBox*>(Component) != nullptr ||
        dynamic_cast<plat::TComboBox*>(Component) != nullptr ||
        dynamic_cast<plat::TRadioGroup*>(Component) != nullptr) {
      plat::TStringList& items = static_cast<plat::TCustomListControl*>(Component)->Items();
      for (int32_t i = 0; i < items.Count(); ++i) items.SetStrings(i, TranslateString(Source, items.Strings(i)));
    }
  }
  for (int32_t i = 0; i < Component->ComponentCount(); ++i) {
    plat::TComponent* child = Component->Components(i);
    if (dynamic_cast<plat::TCustomForm*>(child) == nullptr) TranslateOne(Source, child);
  }
}

void TTranslator::TranslateComponentInto(TTrevLanguage Source, TTrevLanguage Into,
                                         plat::TComponent* Component) {
  IntoScope scope(*this, Into);
  TranslateComponent(Source, Component);
}

void TTranslator::ApplyFont(plat::TControl* Control, bool KeepEmpty) {
  if (Control == nullptr) return;
  TLanguage* language = TargetLanguage();
  if ((language == nullptr || language->Text().Count() == 0) && !KeepEmpty) {
    language = LanguageByIdent(tlEnglish);
  }
  if (language == nullptr) return;
  ApplyFontTo(*language, Control);
}

void TTranslator::ApplyFontInto(TTrevLanguage Into, plat::TControl* Control, bool KeepEmpty) {
  IntoScope scope(*this, Into);
  ApplyFont(Control, KeepEmpty);
}

void TTranslator::ApplyFontTo(TLanguage& Language, plat::TControl* Control) {
  plat::TFont& font = Control->Font();
  if (Language.FontOverride()) {
    font.Assign(&Language.Font());
  } else {
    uint8_t charset = 0;
    switch (Language.LanguageIdent()) {
      case tlChineseSimplified: charset = 134; break;
      case tlChineseTraditional: charset = 136; break;
      case tlCzech:
      case tlPolish:
      case tlPortugese: charset = 238; break;
      case tlHebrew: charset = 177; break;
      case tlJapanese: charset = 128; break;
      case tlKorean: charset = 129; break;
      case tlRussian: charset = 204; break;
      case tlVietnamese: charset = 163; break;
      case tlUser: throw Exception("Unrecognized language");
      default:
        if (Language.LanguageIdent() > tlVietnamese) throw Exception("Unrecognized language");
        charset = 0;
    }
    std::string name = "Arial";
    int32_t minimum = 8;
    switch (Language.LanguageIdent()) {
      case tlChineseSimplified:
      case tlChineseTraditional:
        name = "\xB7\x73\xB2\xD3\xA9\xFA\xC5";
        minimum = 9;
        break;
      case tlGerman: name = "MS Sans Serif"; break;
      case tlGreek: name = "SGreek"; break;
      case tlJapanese:
        name = "\x82\x6C\x82\x72\x20\x82\x6F\x83\x53\x83\x56\x83\x62\x83\x4E";
        minimum = 9;
        break;
      case tlKorean:
        name = "\xB9\xD9\xC5\xC1";
        minimum = 9;
        break;
      case tlUser: throw Exception("Unrecognized language");
      default:
        // Hebrew gets the common font rather than an error for every form.
        break;
    }
    font.SetCharset(charset);
    font.SetName(name);
    if (font.Size() < minimum) font.SetSize(minimum);
  }
  if (auto* windowed = dynamic_cast<plat::TWinControl*>(Control)) {
    for (int32_t i = 0; i < windowed->ControlCount(); ++i) ApplyFontTo(Language, windowed->Controls(i));
  }
}

// ---------------------------------------------------------------- languages

TTrevLanguage LanguageOfLangID(uint16_t LangID) {
  const int primary = LangID & 0x3FF;
  const int sub = LangID >> 10;
  switch (primary) {
    case 4: return sub == 1 ? tlChineseTraditional : tlChineseSimplified;
    case 5: return tlCzech;
    case 6: return tlDanish;
    case 7: return tlGerman;
    case 8: return tlGreek;
    case 10: return tlSpanish;
    case 12: return tlFrench;
    case 13: return tlHebrew;
    case 16: return tlItalian;
    case 17: return tlJapanese;
    case 18: return tlKorean;
    case 19: return tlDutch;
    case 20: return sub == 1 ? tlNorwegianBokmal : tlNorwegianNynorsk;
    case 21: return tlPolish;
    case 22: return tlPortugese;
    case 25: return tlRussian;
    case 29: return tlSwedish;
    case 42: return tlVietnamese;
    default: return tlEnglish;
  }
}

uint16_t UserDefaultLangID() {
  std::string locale;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != 0) {
      locale = value;
      break;
    }
  }
  // "ll_TT.codeset@modifier"
  const std::string language = plat::LowerCase(locale.substr(0, locale.find_first_of("_.@")));
  const size_t underscore = locale.find('_');
  const std::string territory =
      underscore == std::string::npos
          ? std::string()
          : plat::UpperCase(locale.substr(underscore + 1, locale.find_first_of(".@", underscore) - underscore - 1));
  if (language.empty() || language == "c" || language == "posix") {
    return plat::win::GetUserDefaultLangID();
  }
  struct Row {
    const char* code;
    int primary;
  };
  static const Row kRows[] = {{"zh", 4},  {"cs", 5},  {"da", 6},  {"de", 7},  {"el", 8},
                              {"en", 9},  {"es", 10}, {"fr", 12}, {"he", 13}, {"it", 16},
                              {"ja", 17}, {"ko", 18}, {"nl", 19}, {"nb", 20}, {"no", 20},
                              {"nn", 20}, {"pl", 21}, {"pt", 22}, {"ru", 25}, {"sv", 29},
                              {"vi", 42}};
  int primary = 9;
  for (const Row& row : kRows) {
    if (language == row.code) primary = row.primary;
  }
  int sub = 1;
  if (language == "zh") sub = territory == "TW" || territory == "HK" || territory == "MO" ? 1 : 2;
  if (language == "nn") sub = 2;
  if (language == "pt") sub = territory == "PT" ? 2 : 1;
  return static_cast<uint16_t>(primary | (sub << 10));
}

// ---------------------------------------------------------------- global routines

TTranslator* GlobalTranslator() {
  return Global();
}

std::string TranslateText(const std::string& Text) {
  TTranslator* translator = Global();
  return translator == nullptr ? Text : translator->TranslateString(tlEnglish, Text);
}

TTrevLanguage TranslateComponentGlobal(TTrevLanguage Source, plat::TComponent* Component) {
  TTranslator* translator = Global();
  return translator == nullptr ? Source : translator->TranslateComponent(Source, Component);
}

void TranslateComponentIntoGlobal(TTrevLanguage Source, TTrevLanguage Into, plat::TComponent* Component) {
  if (TTranslator* translator = Global()) translator->TranslateComponentInto(Source, Into, Component);
}

void ApplyFontGlobal(plat::TControl* Control, bool KeepEmpty) {
  if (TTranslator* translator = Global()) translator->ApplyFont(Control, KeepEmpty);
}

void ApplyFontIntoGlobal(TTrevLanguage Into, plat::TControl* Control, bool KeepEmpty) {
  if (TTranslator* translator = Global()) translator->ApplyFontInto(Into, Control, KeepEmpty);
}

void RegisterTranslator() {
  plat::RegisterClass<TTranslator>("TTranslator");
}

}  // namespace setup
