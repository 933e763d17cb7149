// Component text as forms use it: sub-objects, string lists, binary data,
// events bound by method name and inherited texts.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/ComponentText.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/RtlTestSupport.h"

namespace plat {
namespace {

enum TPenStyle : uint8_t { psBold, psItalic };

class TPen : public TPersistent {
 public:
  std::string ClassName() const override { return "TPen"; }
  const TPropList& PublishedProperties() const override {
    static const TPropList list = TPublished<TPen>()
                                      .String("Name", &TPen::Name, &TPen::SetName, "Pen")
                                      .Integer("Size", &TPen::Size, &TPen::SetSize, 8)
                                      .Set("Style", &TPen::Style, &TPen::SetStyle,
                                           {"psBold", "psItalic"}, TSet<TPenStyle>{});
    return list;
  }
  std::string Name() const { return name_; }
  void SetName(const std::string& v) { name_ = v; }
  int32_t Size() const { return size_; }
  void SetSize(int32_t v) {
    if (v <= 0) throw EConvertError("Size must be positive");
    size_ = v;
  }
  TSet<TPenStyle> Style() const { return style_; }
  void SetStyle(TSet<TPenStyle> v) { style_ = v; }

 private:
  std::string name_ = "Pen";
  int32_t size_ = 8;
  TSet<TPenStyle> style_;
};

class TWidget : public TComponent {
 public:
  using TComponent::TComponent;
  std::string ClassName() const override { return "TWidget"; }
  const TPropList& PublishedProperties() const override {
    static const TPropList list =
        TPublished<TWidget>(TComponent::PublishedProperties())
            .Persistent("Pen", [](TWidget& w) -> TPen& { return w.pen_; })
            .Strings("Lines", [](TWidget& w) -> TStrings& { return w.lines_; })
            .Binary("Data", &TWidget::Data, &TWidget::SetData)
            .Event("OnClick", &TWidget::OnClick, &TWidget::EventBindings)
            .Event("OnAsk", &TWidget::OnAsk, &TWidget::EventBindings)
            .Component("Buddy", &TWidget::Buddy, &TWidget::SetBuddy);
    return list;
  }
  TPen& Pen() { return pen_; }
  TStringList& Lines() { return lines_; }
  std::string Data() const { return data_; }
  void SetData(const std::string& v) { data_ = v; }
  TWidget* Buddy() const { return buddy_; }
  void SetBuddy(TWidget* v) { buddy_ = v; }
  TEventBindings& EventBindings() { return bindings_; }
  void Loaded() override {
    TComponent::Loaded();
    ++loadedCount;
  }

  TNotifyEvent OnClick;
  std::function<void(TObject*, bool&)> OnAsk;
  int loadedCount = 0;

 private:
  TPen pen_;
  TStringList lines_;
  std::string data_;
  TWidget* buddy_ = nullptr;
  TEventBindings bindings_;
};

// A root whose methods events bind to.
class TPanelForm : public TWidget, public IMethodOwner {
 public:
  explicit TPanelForm(TComponent* owner) : TWidget(owner) {
    methods_.Add<void(TObject*)>("ButtonClick", [this](TObject*) { ++clicks; });
    methods_.Add<void(TObject*, bool&)>("AskYes", [](TObject*, bool& answer) { answer = true; });
  }
  std::string ClassName() const override { return "TPanelForm"; }
  const TMethodTable& PublishedMethods() const override { return methods_; }
  int clicks = 0;

 private:
  TMethodTable methods_;
};

struct Registration {
  Registration() { RegisterClass<TWidget>("TWidget"); }
  ~Registration() { UnRegisterClass("TWidget"); }
};

std::string Text(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  return text;
}

const std::string kBase = Text({
    "object Panel: TPanelForm",
    "  Pen.Name = 'Arial'",
    "  Pen.Style = [psBold]",
    "  OnClick = ButtonClick",
    "  object Button: TWidget",
    "    Pen.Size = 12",
    "    Lines.Strings = (",
    "      'first'",
    "      'sec' + 'ond')",
    "    Data = {",
    "      00FF7f}",
    "    OnAsk = AskYes",
    "    Buddy = Other",
    "  end",
    "  object Other: TWidget",
    "  end",
    "end",
});

TEST(FormTextTest, ReadsSubObjectsStringsBinaryEventsAndReferences) {
  Registration registration;
  TPanelForm panel(nullptr);
  ReadComponentText(kBase, panel);
  EXPECT_EQ(panel.Pen().Name(), "Arial");
  EXPECT_TRUE(panel.Pen().Style().Contains(psBold));
  ASSERT_TRUE(panel.OnClick);
  panel.OnClick(&panel);
  EXPECT_EQ(panel.clicks, 1);

  auto* button = dynamic_cast<TWidget*>(panel.FindComponent("Button"));
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(button->Pen().Size(), 12);
  EXPECT_EQ(button->Lines().Text(), "first\nsecond\n");
  EXPECT_EQ(button->Data(), std::string("\x00\xff\x7f", 3));
  bool answer = false;
  button->OnAsk(button, answer);
  EXPECT_TRUE(answer);
  EXPECT_EQ(button->Buddy(), panel.FindComponent("Other"));
  EXPECT_EQ(button->loadedCount, 1);
  EXPECT_EQ(panel.loadedCount, 1);

  // What is written reads back to the same text.
  const std::string written = WriteComponentText(panel);
  EXPECT_NE(written.find("    Lines.Strings = (\r\n      'first'\r\n      'second')\r\n"),
            std::string::npos)
      << written;
  EXPECT_NE(written.find("Data = {\r\n      00FF7F}"), std::string::npos) << written;
  EXPECT_NE(written.find("  OnClick = ButtonClick\r\n"), std::string::npos) << written;
  TPanelForm copy(nullptr);
  ReadComponentText(written, copy);
  EXPECT_EQ(WriteComponentText(copy), written);
}

TEST(FormTextTest, InheritedTextChangesTheAncestorsComponents) {
  Registration registration;
  TPanelForm panel(nullptr);
  ReadComponentTexts({kBase, Text({
                                 "inherited Panel: TPanelForm",
                                 "  Pen.Size = 10",
                                 "  inherited Button: TWidget",
                                 "    Lines.Strings = (",
                                 "      'only')",
                                 "  end",
                                 "  object Extra: TWidget",
                                 "    Buddy = Button",
                                 "  end",
                                 "end",
                             })},
                     panel);
  EXPECT_EQ(panel.Pen().Name(), "Arial");
  EXPECT_EQ(panel.Pen().Size(), 10);
  auto* button = dynamic_cast<TWidget*>(panel.FindComponent("Button"));
  EXPECT_EQ(button->Lines().Text(), "only\n");
  EXPECT_EQ(button->Pen().Size(), 12);
  auto* extra = dynamic_cast<TWidget*>(panel.FindComponent("Extra"));
  ASSERT_NE(extra, nullptr);
  EXPECT_EQ(extra->Buddy(), button);
  EXPECT_EQ(panel.loadedCount, 1);  // once for both texts
}

TEST(FormTextTest, ErrorsNameTheirLineAndUndoTheRead) {
  Registration registration;
  struct Case {
    std::vector<std::string> texts;
    std::string message;
  };
  const std::string head = "object Panel: TPanelForm\r\n  Lines.Strings = ('kept?')\r\n";
  const std::vector<Case> cases = {
      {{head + "  OnClick = Missing\r\nend"}, "Line 3: Method Missing not found for event OnClick"},
      {{head + "  OnClick = AskYes\r\nend"}, "Line 3: Method AskYes does not fit event OnClick"},
      {{head + "  Pen.Size = 0\r\nend"},
       "Line 3: Error reading Panel.Pen.Size: Size must be positive"},
      {{head + "  Pen.Colour = 1\r\nend"}, "Line 3: Property Pen.Colour does not exist in TPen"},
      {{head + "  Lines.Items = ('x')\r\nend"},
       "Line 3: Property Lines.Items does not exist in TPanelForm"},
      {{head + "  Data = {0}\r\nend"}, "Line 3: Odd number of digits in binary data"},
      {{head + "  Data = {0G}\r\nend"}, "Line 3: Invalid character 'G' in binary data"},
      {{head + "  Data = 'ab'\r\nend"}, "Line 3: Binary data expected for property Data"},
      {{head + "  inherited Nobody: TWidget\r\n  end\r\nend"},
       "Line 3: Inherited component Nobody not found"},
      {{head + "end", "object Panel: TPanelForm\r\nend"}, "Line 1: 'inherited' expected"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.texts.back());
    TPanelForm panel(nullptr);
    panel.Lines().Add("before");
    panel.OnClick = nullptr;
    EXPECT_EQ(rtltest::MessageOf([&] { ReadComponentTexts(c.texts, panel); }),
              "EReadError: " + c.message);
    EXPECT_EQ(panel.Lines().Text(), "before\n");
    EXPECT_EQ(panel.Pen().Size(), 8);
    EXPECT_FALSE(panel.OnClick);
    EXPECT_EQ(panel.ComponentCount(), 0);
  }
}

TEST(FormTextTest, AFailedReadRestoresABoundEvent) {
  TPanelForm panel(nullptr);
  ReadComponentText("object Panel: TPanelForm\r\n  OnClick = ButtonClick\r\nend", panel);
  EXPECT_THROW(ReadComponentText(
                   "object Panel: TPanelForm\r\n  OnClick = nil\r\n  Pen.Size = -1\r\nend", panel),
               EReadError);
  ASSERT_TRUE(panel.OnClick);
  EXPECT_NE(WriteComponentText(panel).find("OnClick = ButtonClick"), std::string::npos);
  ReadComponentText("object Panel: TPanelForm\r\n  OnClick = nil\r\nend", panel);
  EXPECT_FALSE(panel.OnClick);
  EXPECT_EQ(WriteComponentText(panel).find("OnClick"), std::string::npos);
}

}  // namespace
}  // namespace plat
