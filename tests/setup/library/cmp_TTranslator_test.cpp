#include "setup/library/cmp_TTranslator.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/forms/Forms.h"
#include "platform/rtl/ComponentText.h"
#include "platform/win/WinSystem.h"
#include "platform/win/WinTestRoot.h"
#include "setup/library/cmp_TTranslateControls.h"
#include "setup/library/exceptions_Quillane.h"
#include "support/TestDir.h"

namespace setup {
namespace {

// Sets the locale variables for a test and puts them back.
class LocaleScope {
 public:
  explicit LocaleScope(const char* lang) {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
      const char* value = getenv(name);
      saved_.emplace_back(name, value == nullptr ? std::string("\x01") : std::string(value));
      unsetenv(name);
    }
    if (lang != nullptr) setenv("LANG", lang, 1);
  }
  ~LocaleScope() {
    for (const auto& [name, value] : saved_) {
      if (value == "\x01") {
        unsetenv(name.c_str());
      } else {
        setenv(name.c_str(), value.c_str(), 1);
      }
    }
  }

 private:
  std::vector<std::pair<std::string, std::string>> saved_;
};

void SetText(TLanguage& language, const std::vector<std::string>& lines) {
  plat::TStringList text;
  for (const auto& line : lines) text.Add(line);
  language.Text().Assign(&text);
}

class TranslatorTest : public wintest::WinRootTest {
 protected:
  void SetUp() override {
    WinRootTest::SetUp();
    translator_ = std::make_unique<TTranslator>(nullptr);
    SetText(English(), {"* the source language", "7;Cancel", "100;Next >", "101;Welcome to %s",
                        "#200", "Line one", "Line two", "#"});
    SetText(Portuguese(), {"7;Cancelar", "100;Avançar >", "101;Bem-vindo ao %s", "",
                           "#200", "  Linha um", "* inside a memo", "Linha dois", "#"});
  }
  void TearDown() override {
    translator_.reset();
    plat::FreeApplication();
    WinRootTest::TearDown();
  }
  TLanguage& English() { return *translator_->LanguageByIdent(tlEnglish); }
  TLanguage& Portuguese() { return *translator_->LanguageByIdent(tlPortugese); }

  std::unique_ptr<TTranslator> translator_;
};

TEST_F(TranslatorTest, LanguageTextParsesIntoStringsAndMemos) {
  TLanguage& pt = Portuguese();
  ASSERT_EQ(pt.StringCount(), 3);
  EXPECT_EQ(pt.StringByGLID(100)->Text, "Avançar >");
  EXPECT_EQ(pt.StringByGLID(100)->LineIndex, 1);
  ASSERT_EQ(pt.MemoCount(), 1);
  TLanguageMemo* memo = pt.MemoByGLID(200);
  ASSERT_NE(memo, nullptr);
  EXPECT_EQ(memo->Lines.Text(), "Linha um\nLinha dois\n");  // two lines, trimmed
  EXPECT_EQ(memo->LineIndex, 4);
  EXPECT_EQ(translator_->LanguageCount(), 21);
  EXPECT_EQ(pt.FileName(), "trviPortugese.txt");
  EXPECT_EQ(translator_->LanguageByIdent(tlUser), nullptr);

  // A string keeps at most 255 bytes and no half character.
  const std::string longText = std::string(254, 'a') + "\xC3\xA7" + "tail";
  SetText(pt, {"5;" + longText});
  EXPECT_EQ(pt.StringByGLID(5)->Text, std::string(254, 'a'));
}

TEST_F(TranslatorTest, MalformedTextRaisesWithItsLineIndexAndLeavesNothing) {
  struct Case {
    std::vector<std::string> lines;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"1;a", "#"}, "Found the end of memo marker # at line 1. Was not in a memo however"},
      {{"1;a", "", "100"}, "The 2'th string (100) does not have the proper format of GLID;Text"},
      {{"100;   ;x"}, "The 0'th string (100;   ;x) does not have the proper format of GLID;Text"},
      {{";Next"}, "The 0'th string (;Next) does not have the proper format of GLID;Text"},
      {{"x1;Next"}, "The 0'th string (x1;Next) does not have the proper format of GLID;Text or .GLID;"},
      {{"#;memo"}, "The 0'th string (#;memo) does not have the proper format of GLID;Text"},
      {{"#abc"}, "The 0'th string (#abc) does not have the proper format of GLID;Text or .GLID;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    TLanguage& language = *translator_->LanguageByIdent(tlFrench);
    try {
      SetText(language, c.lines);
      ADD_FAILURE() << "no error";
    } catch (const plat::Exception& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
    EXPECT_EQ(language.StringCount(), 0);
    EXPECT_TRUE(language.AutoParse());
  }
}

TEST_F(TranslatorTest, TranslatesByTextIgnoringCaseAndByNumber) {
  translator_->SetTranslateIntoLanguage(tlPortugese);
  EXPECT_EQ(translator_->TranslateString(tlEnglish, "cancel"), "Cancelar");
  EXPECT_EQ(translator_->TranslateString(tlEnglish, "Next >"), "Avançar >");
  EXPECT_EQ(translator_->TranslateString(tlEnglish, "Unknown"), "Unknown");
  EXPECT_EQ(translator_->TranslateString(tlGerman, "Cancel"), "Cancel");  // no German text
  EXPECT_EQ(translator_->TranslateGLID(101, "x"), "Bem-vindo ao %s");
  EXPECT_EQ(translator_->TranslateGLID(999, "x"), "x");
  plat::TStringList lines, result;
  lines.Add("Line one");
  lines.Add("Line two");
  translator_->TranslateMemo(tlEnglish, lines, result);
  EXPECT_EQ(result.Text(), "Linha um\nLinha dois\n");
  lines.Add("three");
  translator_->TranslateMemo(tlEnglish, lines, result);
  EXPECT_EQ(result.Text(), lines.Text());

  // The global routines and the installer's exceptions use the first translator.
  EXPECT_EQ(GlobalTranslator(), translator_.get());
  TTranslator second(nullptr);
  EXPECT_EQ(GlobalTranslator(), translator_.get());
  EXPECT_EQ(TranslateText("Cancel"), "Cancelar");
  EXPECT_EQ(IException("Cancel").Message(), "Cancelar");
  EXPECT_EQ(IException::CreateFmt("Welcome to %s", {"Ostra"}).Message(), "Bem-vindo ao Ostra");
  translator_.reset();
  EXPECT_EQ(GlobalTranslator(), nullptr);
  EXPECT_EQ(TranslateText("Cancel"), "Cancel");
  EXPECT_EQ(IException("Cancel").Message(), "Cancel");
}

TEST_F(TranslatorTest, TheUserLanguageComesFromTheLocaleOrTheSystem) {
  {
    LocaleScope locale("pt_BR.UTF-8");
    EXPECT_EQ(UserDefaultLangID(), 0x0416);
    EXPECT_EQ(translator_->TargetLanguage(), &Portuguese());
    EXPECT_EQ(translator_->TranslateString(tlEnglish, "Cancel"), "Cancelar");
  }
  struct Case {
    const char* lang;
    TTrevLanguage language;
  };
  for (const Case& c : std::vector<Case>{{"zh_TW", tlChineseTraditional},
                                        {"zh_CN.GB2312", tlChineseSimplified},
                                        {"nn_NO", tlNorwegianNynorsk},
                                        {"nb_NO.UTF-8", tlNorwegianBokmal},
                                        {"de_DE@euro", tlGerman},
                                        {"tr_TR", tlEnglish}}) {
    LocaleScope locale(c.lang);
    EXPECT_EQ(LanguageOfLangID(UserDefaultLangID()), c.language) << c.lang;
  }
  LocaleScope locale("C");
  plat::win::SetUserDefaultLangID(0x0407);
  EXPECT_EQ(translator_->UserLanguage()->LanguageIdent(), tlGerman);
  EXPECT_EQ(LanguageOfLangID(0x0404), tlChineseTraditional);
  EXPECT_EQ(LanguageOfLangID(0x0804), tlChineseSimplified);
}

// A label whose caption cannot be set, to fail a translation half way.
class TStubbornLabel : public plat::TLabel {
 public:
  using plat::TLabel::TLabel;
  void SetText(const std::string& Value) override {
    if (Value == "Cancelar") throw plat::EInvalidOperation("refused");
    plat::TLabel::SetText(Value);
  }
};

TEST_F(TranslatorTest, TranslatesAFormAndRestoresVisibilityAndAutoSize) {
  RegisterTranslateControls();
  plat::TForm form(nullptr);
  auto* panel = new plat::TPanel(&form);
  auto* byText = new TTranslateLabel(panel);
  byText->SetCaption("Cancel");
  auto* byNumber = new TTranslateLabel(panel);
  byNumber->SetGLID(101);
  byNumber->SetCaption("Next >");
  auto* button = new TTranslateBitBtn(&form);
  button->SetGLID(100);
  auto* memo = new plat::TMemo(&form);
  memo->Lines().Add("Line one");
  memo->Lines().Add("Line two");
  auto* list = new plat::TListBox(&form);
  list->Items().Add("Next >");
  list->Items().Add("Other");
  auto* hidden = new plat::TButton(&form);
  hidden->SetCaption("cancel");
  hidden->SetVisible(false);
  hidden->SetName("Cancel");  // the name is never translated

  translator_->SetTranslateIntoLanguage(tlPortugese);
  EXPECT_EQ(translator_->TranslateComponent(tlEnglish, &form), tlPortugese);
  EXPECT_EQ(byText->Caption(), "Cancelar");
  EXPECT_EQ(byNumber->Caption(), "Bem-vindo ao %s");
  EXPECT_EQ(button->Caption(), "Avançar >");
  EXPECT_EQ(memo->Lines().Text(), "Linha um\nLinha dois\n");
  EXPECT_EQ(list->Items().Text(), "Avançar >\nOther\n");
  EXPECT_EQ(hidden->Caption(), "Cancelar");
  EXPECT_EQ(hidden->Name(), "Cancel");
  EXPECT_TRUE(byText->Visible() && byText->AutoSize() && panel->Visible());
  EXPECT_FALSE(hidden->Visible());
  EXPECT_EQ(byText->Width(), plat::MeasureTextWidth("Cancelar", byText->Font().Size()));

  // Into a language without text: the form stays in its source language.
  EXPECT_EQ(translator_->LanguageByIdent(tlGerman)->Text().Count(), 0);
  translator_->TranslateComponentInto(tlPortugese, tlGerman, &form);
  EXPECT_EQ(translator_->TranslateIntoLanguage(), tlPortugese);
  EXPECT_EQ(TranslateComponentGlobal(tlEnglish, nullptr), tlPortugese);

  // A failing translation still gives the control back visible and sized.
  auto* stubborn = new TStubbornLabel(&form);
  stubborn->SetCaption("Cancel");
  EXPECT_THROW(translator_->TranslateComponent(tlEnglish, stubborn), plat::EInvalidOperation);
  EXPECT_TRUE(stubborn->Visible());
  EXPECT_TRUE(stubborn->AutoSize());
}

TEST_F(TranslatorTest, ApplyFontSetsTheLanguagesFontOnEveryControl) {
  plat::TForm form(nullptr);
  auto* panel = new plat::TPanel(&form);
  auto* label = new plat::TLabel(panel);
  struct Case {
    TTrevLanguage into;
    uint8_t charset;
    std::string name;
    int32_t size;
  };
  const std::vector<Case> cases = {
      {tlPortugese, 238, "Arial", 8},
      {tlJapanese, 128, "\x82\x6C\x82\x72\x20\x82\x6F\x83\x53\x83\x56\x83\x62\x83\x4E", 9},
      {tlGerman, 0, "MS Sans Serif", 8},
      {tlRussian, 204, "Arial", 8},
      {tlHebrew, 177, "Arial", 8},
  };
  for (const Case& c : cases) {
    SetText(*translator_->LanguageByIdent(c.into), {"1;x"});
    label->Font().SetSize(7);
    translator_->ApplyFontInto(c.into, &form, true);
    for (plat::TControl* control : {static_cast<plat::TControl*>(&form), static_cast<plat::TControl*>(label)}) {
      EXPECT_EQ(control->Font().Charset(), c.charset) << c.name;
      EXPECT_EQ(control->Font().Name(), c.name);
    }
    EXPECT_EQ(label->Font().Size(), c.size);
  }
  // A target without text falls back to English unless it is kept.
  label->Font().SetName("Courier");
  translator_->ApplyFontInto(tlDanish, label, true);
  EXPECT_EQ(label->Font().Name(), "Arial");
  EXPECT_EQ(label->Font().Charset(), 0);
  // An override font is taken whole.
  TLanguage& pt = Portuguese();
  pt.SetFontOverride(true);
  pt.Font().SetName("Tahoma");
  pt.Font().SetSize(11);
  translator_->ApplyFontInto(tlPortugese, label, false);
  EXPECT_EQ(label->Font().Name(), "Tahoma");
  EXPECT_EQ(label->Font().Size(), 11);
}

TEST_F(TranslatorTest, TheTextListReparsesAsItChanges) {
  TLanguage& en = English();
  en.Text().Add("300;Finish");
  EXPECT_NE(en.StringByGLID(300), nullptr);
  const int32_t line = en.StringByGLID(300)->LineIndex;
  en.Text().Delete(0);  // the comment line: no re-parse, the lines move up
  EXPECT_EQ(en.StringByGLID(300)->LineIndex, line - 1);
  en.Text().Insert(0, "301;Back");
  EXPECT_EQ(en.StringByGLID(301)->Text, "Back");
  en.Text().Clear();
  EXPECT_EQ(en.StringCount(), 0);

  // Language files, and the load leaving AutoParse on when it fails.
  testsupport::TempDir dir;
  {
    std::ofstream file(dir.File("trviEnglish.txt"));
    file << "1;One\r\n#2\r\nA\r\nB\r\n#\r\n";
  }
  en.Text().LoadFromFile(dir.File("trviEnglish.txt"));
  EXPECT_EQ(en.StringByGLID(1)->Text, "One");
  EXPECT_EQ(en.MemoByGLID(2)->Lines.Count(), 2);
  EXPECT_THROW(en.Text().LoadFromFile(dir.File("missing.txt")), plat::Exception);
  EXPECT_TRUE(en.AutoParse());
}

TEST_F(TranslatorTest, ATranslatorReadsItsLanguagesFromComponentText) {
  RegisterTranslateControls();
  TTranslator reader(nullptr);
  plat::ReadComponentText(
      "object Translator1: TTranslator\r\n"
      "  lgPortugese.FontOverride = True\r\n"
      "  lgPortugese.Font.Name = 'Tahoma'\r\n"
      "  lgPortugese.Strings.Strings = (\r\n"
      "    '7;Cancelar'\r\n"
      "    '#8'\r\n"
      "    'a'\r\n"
      "    '#')\r\n"
      "  TranslateIntoLanguage = tlPortugese\r\n"
      "end\r\n",
      reader);
  TLanguage* pt = reader.LanguageByIdent(tlPortugese);
  EXPECT_TRUE(pt->FontOverride());
  EXPECT_EQ(pt->Font().Name(), "Tahoma");
  EXPECT_EQ(pt->StringByGLID(7)->Text, "Cancelar");
  EXPECT_EQ(pt->MemoByGLID(8)->Lines.Text(), "a\n");
  EXPECT_EQ(reader.TranslateIntoLanguage(), tlPortugese);
  const std::string written = plat::WriteComponentText(reader);
  EXPECT_NE(written.find("lgPortugese.Strings.Strings = ("), std::string::npos) << written;
}

}  // namespace
}  // namespace setup
