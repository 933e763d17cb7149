#pragma once
// Run-time translation of the installer's user interface.
//
// A translator holds one language per supported language. A language's text
// is a list of numbered strings ("GLID;Text") and numbered memos ("#GLID", the
// lines, then "#"); lines starting with "*" are comments. A text is
// translated by finding it (ignoring case) among the source language's
// strings and taking the target language's string with the same number.
//
// The first translator made becomes the global one until it is freed; the
// global routines at the end of this file (and IException's messages) go
// through it and do nothing without it.
//
// For the dialogs and the setup program: TranslateComponentGlobal(tlEnglish,
// Form) translates a whole form (its captions, texts, memo lines and list
// items; TTranslateLabel and TTranslateBitBtn by number), and
// ApplyFontGlobal(Form, false) sets the fonts the target language needs.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/forms/Controls.h"
#include "platform/forms/Graphics.h"
#include "platform/rtl/Classes.h"
#include "platform/rtl/Lists.h"

namespace setup {

enum TTrevLanguage : uint8_t {
  tlChineseSimplified,
  tlChineseTraditional,
  tlCzech,
  tlDanish,
  tlDutch,
  tlEnglish,
  tlFrench,
  tlGerman,
  tlGreek,
  tlHebrew,
  tlItalian,
  tlJapanese,
  tlKorean,
  tlNorwegianBokmal,
  tlNorwegianNynorsk,
  tlPolish,
  tlPortugese,
  tlRussian,
  tlSpanish,
  tlSwedish,
  tlUser,
  tlVietnamese
};

class TLanguage;
class TTranslator;

class TLanguageElement : public plat::TObject {
 public:
  TLanguageElement(int32_t GLID, TLanguage* Language, int32_t LineIndex)
      : GLID(GLID), Language(Language), LineIndex(LineIndex) {}
  int32_t GLID;
  TLanguage* Language;
  // The text line the element came from (a memo: its opening marker).
  int32_t LineIndex;
};

class TLanguageString : public TLanguageElement {
 public:
  // Text is kept to at most 255 bytes, cut at a character boundary.
  TLanguageString(int32_t GLID, TLanguage* Language, int32_t LineIndex, const std::string& Text);
  std::string Text;
};

class TLanguageMemo : public TLanguageElement {
 public:
  using TLanguageElement::TLanguageElement;
  plat::TStringList Lines;
};

// A language's text: changes re-parse the language while AutoParse is on.
// Add, AddObject, AddStrings, Clear, Insert, Move and LoadFromStream
// re-parse; Assign and LoadFromFile parse once at the end; Delete only moves
// the line numbers of the strings after the deleted line.
class TLangFormatStrings : public plat::TStringList {
 public:
  explicit TLangFormatStrings(TLanguage& Language) : language_(Language) {}
  std::string ClassName() const override { return "TLangFormatStrings"; }

  int32_t AddObject(const std::string& S, plat::TObject* AObject) override;
  void InsertObject(int32_t Index, const std::string& S, plat::TObject* AObject) override;
  void Clear() override;
  void Move(int32_t CurIndex, int32_t NewIndex) override;
  void Delete(int32_t Index) override;
  void LoadFromStream(plat::TStream& Stream) override;
  void Assign(const plat::TPersistent* Source) override;
  void LoadFromFile(const std::string& FileName);

 protected:
  void SetUpdateState(bool Updating) override;

 private:
  void Reparse();
  // Runs a load with AutoParse off, then parses once (AutoParse is on again
  // even when the load fails).
  template <class F>
  void LoadOnce(F&& load);

  TLanguage& language_;
};

class TLanguage : public plat::TPersistent {
 public:
  TLanguage(TTranslator* Translator, std::string ResourceName, std::string FileName,
            TTrevLanguage Ident);
  ~TLanguage() override;

  std::string ClassName() const override { return "TLanguage"; }
  const plat::TPropList& PublishedProperties() const override;
  void Assign(const plat::TPersistent* Source) override;

  TTranslator* Translator() const { return translator_; }
  const std::string& ResourceName() const { return resourceName_; }
  const std::string& FileName() const { return fileName_; }
  TTrevLanguage LanguageIdent() const { return ident_; }
  plat::TFont& Font() { return font_; }
  bool FontOverride() const { return fontOverride_; }
  void SetFontOverride(bool Value) { fontOverride_ = Value; }
  // The language text ("Strings" in component text).
  TLangFormatStrings& Text() { return text_; }
  const TLangFormatStrings& Text() const { return text_; }
  bool AutoParse() const { return autoParse_; }
  void SetAutoParse(bool Value) { autoParse_ = Value; }

  int32_t StringCount() const { return static_cast<int32_t>(strings_.size()); }
  TLanguageString& Strings(int32_t Index) { return *strings_.at(static_cast<size_t>(Index)); }
  int32_t MemoCount() const { return static_cast<int32_t>(memos_.size()); }
  TLanguageMemo& Memos(int32_t Index) { return *memos_.at(static_cast<size_t>(Index)); }

  // Frees the parsed strings and memos.
  void Clear();
  TLanguageString* StringByGLID(int32_t GLID) const;
  TLanguageMemo* MemoByGLID(int32_t GLID) const;
  // The first string equal to Text ignoring case, or nullptr.
  TLanguageString* FindString(const std::string& Text) const;
  // The first memo whose text equals Lines' text, or nullptr.
  TLanguageMemo* FindMemo(const plat::TStrings& Lines) const;
  // Parses Text into strings and memos. Malformed text raises a plain
  // Exception naming the line's index and leaves nothing parsed.
  void Parse();

 private:
  friend class TLangFormatStrings;

  TTranslator* translator_;
  std::string resourceName_;
  std::string fileName_;
  TTrevLanguage ident_;
  plat::TFont font_;
  bool fontOverride_ = false;
  bool autoParse_ = true;
  TLangFormatStrings text_;
  std::vector<std::unique_ptr<TLanguageString>> strings_;
  std::vector<std::unique_ptr<TLanguageMemo>> memos_;
};

class TTranslator : public plat::TComponent {
 public:
  explicit TTranslator(plat::TComponent* AOwner);
  ~TTranslator() override;

  std::string ClassName() const override { return "TTranslator"; }
  const plat::TPropList& PublishedProperties() const override;

  int32_t LanguageCount() const { return static_cast<int32_t>(languages_.size()); }
  TLanguage& Languages(int32_t Index) const { return *languages_.at(static_cast<size_t>(Index)); }
  TLanguage* LanguageByIdent(TTrevLanguage Ident) const;
  // The language of the user's default language id, or nullptr when that
  // cannot be found out.
  TLanguage* UserLanguage() const;
  TLanguage* TargetLanguage() const;

  TTrevLanguage TranslateIntoLanguage() const { return into_; }
  // Fires OnChange.
  void SetTranslateIntoLanguage(TTrevLanguage Value);

  std::string TranslateString(TTrevLanguage Source, const std::string& Text) const;
  std::string TranslateGLID(int32_t GLID, const std::string& Default) const;
  void TranslateMemo(TTrevLanguage Source, const plat::TStrings& Lines, plat::TStrings& Result) const;
  // Translates Component and what it owns (forms it owns excepted); the
  // language it is now in: Source when the target has no text, else
  // TranslateIntoLanguage.
  TTrevLanguage TranslateComponent(TTrevLanguage Source, plat::TComponent* Component);
  void TranslateComponentInto(TTrevLanguage Source, TTrevLanguage Into, plat::TComponent* Component);
  // Sets the font, character set and minimum size the target language needs
  // on Control and every control on it. KeepEmpty keeps a target without
  // text; otherwise English stands in for it.
  void ApplyFont(plat::TControl* Control, bool KeepEmpty);
  void ApplyFontInto(TTrevLanguage Into, plat::TControl* Control, bool KeepEmpty);

  plat::TNotifyEvent OnChange;

 private:
  TLanguage& Owned(TTrevLanguage Ident) const { return *LanguageByIdent(Ident); }
  TLanguage* SourceLanguage(TTrevLanguage Source) const;
  void TranslateOne(TTrevLanguage Source, plat::TComponent* Component);
  void ApplyFontTo(TLanguage& Language, plat::TControl* Control);

  std::vector<std::unique_ptr<TLanguage>> languages_;
  TTrevLanguage into_ = tlUser;
};

// The language for a Windows language id (primary id in the low 10 bits,
// sublanguage in the next 6).
TTrevLanguage LanguageOfLangID(uint16_t LangID);
// The user's default language id: from the locale environment (LC_ALL,
// LC_MESSAGES, LANG) when one names a language, else the emulated system's.
uint16_t UserDefaultLangID();

// The global translator, or nullptr.
TTranslator* GlobalTranslator();

// The global routines; without a global translator they return their input
// or do nothing.
std::string TranslateText(const std::string& Text);
TTrevLanguage TranslateComponentGlobal(TTrevLanguage Source, plat::TComponent* Component);
void TranslateComponentIntoGlobal(TTrevLanguage Source, TTrevLanguage Into, plat::TComponent* Component);
void ApplyFontGlobal(plat::TControl* Control, bool KeepEmpty);
void ApplyFontIntoGlobal(TTrevLanguage Into, plat::TControl* Control, bool KeepEmpty);

// Makes TTranslator known to the reader of component text.
void RegisterTranslator();

}  // namespace setup
