#include "platform/rtl/ComponentText.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/RtlTestSupport.h"

namespace plat {
namespace {

enum TShade : uint8_t { shRed, shGreen, shBlue };
using TShades = TSet<TShade>;

class TSample;

// Every call of Loaded, in order.
std::vector<std::string> loadedLog;

class TSampleItem : public TCollectionItem {
 public:
  explicit TSampleItem(TCollection* collection) : TCollectionItem(collection) {}
  std::string ClassName() const override { return "TSampleItem"; }
  const TPropList& PublishedProperties() const override;

  int32_t Size() const { return size_; }
  void SetSize(int32_t value) { size_ = value; }
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value) { caption_ = value; }
  TShade Shade() const { return shade_; }
  void SetShade(TShade value) { shade_ = value; }
  TSample* Target() const { return target_; }
  void SetTarget(TSample* value) { target_ = value; }

 private:
  int32_t size_ = 0;
  std::string caption_;
  TShade shade_ = shRed;
  TSample* target_ = nullptr;
};

// A streamed class with a property of every kind.
class TSample : public TComponent {
 public:
  explicit TSample(TComponent* owner)
      : TComponent(owner), items_(CollectionItemClass<TSampleItem>(), this) {}

  std::string ClassName() const override { return "TSample"; }

  const TPropList& PublishedProperties() const override {
    static const TPropList list =
        TPublished<TSample>(TComponent::PublishedProperties())
            .Integer("Count", &TSample::Count, &TSample::SetCount, 0)
            .Integer("Flags", &TSample::Flags, &TSample::SetFlags)
            .Integer("Big", &TSample::Big, &TSample::SetBig, 0)
            .Integer("Small", &TSample::Small, &TSample::SetSmall, 0)
            .Integer("Tiny", &TSample::Tiny, &TSample::SetTiny, 0)
            .String("Text", &TSample::Text, &TSample::SetText)
            .Boolean("Active", &TSample::Active, &TSample::SetActive, false)
            .Enumeration("Shade", &TSample::Shade, &TSample::SetShade,
                         {"shRed", "shGreen", "shBlue"})
            .Float("Ratio", &TSample::Ratio, &TSample::SetRatio)
            .Date("Stamp", &TSample::Stamp, &TSample::SetStamp)
            .Set("Shades", &TSample::Shades, &TSample::SetShades, {"shRed", "shGreen", "shBlue"},
                 TShades{shRed})
            .Collection("Items", [](TSample& s) -> TCollection& { return s.Items(); })
            .Component("Link", &TSample::Link, &TSample::SetLink);
    return list;
  }

  int32_t Count() const { return count_; }
  void SetCount(int32_t value) {
    if (value < 0) throw EConvertError("Count must not be negative");
    seenLoading = ComponentState().Contains(csLoading) && ComponentState().Contains(csReading);
    count_ = value;
  }
  uint32_t Flags() const { return flags_; }
  void SetFlags(uint32_t value) { flags_ = value; }
  int64_t Big() const { return big_; }
  void SetBig(int64_t value) { big_ = value; }
  int16_t Small() const { return small_; }
  void SetSmall(int16_t value) { small_ = value; }
  uint8_t Tiny() const { return tiny_; }
  void SetTiny(uint8_t value) { tiny_ = value; }
  const std::string& Text() const { return text_; }
  void SetText(const std::string& value) { text_ = value; }
  bool Active() const { return active_; }
  void SetActive(bool value) { active_ = value; }
  TShade Shade() const { return shade_; }
  void SetShade(TShade value) { shade_ = value; }
  double Ratio() const { return ratio_; }
  void SetRatio(double value) { ratio_ = value; }
  double Stamp() const { return stamp_; }
  void SetStamp(double value) { stamp_ = value; }
  TShades Shades() const { return shades_; }
  void SetShades(TShades value) { shades_ = value; }
  TCollection& Items() { return items_; }
  const TCollection& Items() const { return items_; }
  TSampleItem* Item(int32_t index) const { return static_cast<TSampleItem*>(items_.Items(index)); }
  TSample* Link() const { return link_; }
  void SetLink(TSample* value) {
    if (link_ == value) return;
    if (link_ != nullptr) link_->RemoveFreeNotification(this);
    link_ = value;
    if (link_ != nullptr) link_->FreeNotification(this);
  }

  void Loaded() override {
    TComponent::Loaded();
    loadedLog.push_back(Name());
  }
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == opRemove && component == link_) link_ = nullptr;
  }

  bool seenLoading = false;

 private:
  int32_t count_ = 0;
  uint32_t flags_ = 0;
  int64_t big_ = 0;
  int16_t small_ = 0;
  uint8_t tiny_ = 0;
  std::string text_;
  bool active_ = false;
  TShade shade_ = shRed;
  double ratio_ = 0;
  double stamp_ = 0;
  TShades shades_{shRed};
  TCollection items_;
  TSample* link_ = nullptr;
};

const TPropList& TSampleItem::PublishedProperties() const {
  static const TPropList list =
      TPublished<TSampleItem>(TCollectionItem::PublishedProperties())
          .Integer("Size", &TSampleItem::Size, &TSampleItem::SetSize, 0)
          .String("Caption", &TSampleItem::Caption, &TSampleItem::SetCaption)
          .Enumeration("Shade", &TSampleItem::Shade, &TSampleItem::SetShade,
                       {"shRed", "shGreen", "shBlue"}, shRed)
          .Component("Target", &TSampleItem::Target, &TSampleItem::SetTarget);
  return list;
}

class TOther : public TComponent {
 public:
  using TComponent::TComponent;
  std::string ClassName() const override { return "TOther"; }
};

const bool registered = [] {
  RegisterClass<TSample>("TSample");
  RegisterClass<TOther>("TOther");
  return true;
}();

// Text with Windows line ends from lines.
std::string Lines(std::initializer_list<const char*> lines) {
  std::string text;
  for (const char* line : lines) text += std::string(line) + "\r\n";
  return text;
}

std::string PathOf(const TComponent* component) {
  std::string path;
  for (; component != nullptr; component = component->Owner()) {
    path = component->Name() + (path.empty() ? "" : "." + path);
  }
  return path;
}

bool SameDouble(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

void ExpectSame(const TSample& a, const TSample& b) {
  SCOPED_TRACE(PathOf(&a));
  EXPECT_EQ(a.Name(), b.Name());
  EXPECT_EQ(a.Count(), b.Count());
  EXPECT_EQ(a.Flags(), b.Flags());
  EXPECT_EQ(a.Big(), b.Big());
  EXPECT_EQ(a.Small(), b.Small());
  EXPECT_EQ(a.Tiny(), b.Tiny());
  EXPECT_EQ(a.Text(), b.Text());
  EXPECT_EQ(a.Active(), b.Active());
  EXPECT_EQ(a.Shade(), b.Shade());
  EXPECT_TRUE(SameDouble(a.Ratio(), b.Ratio())) << a.Ratio() << " " << b.Ratio();
  EXPECT_TRUE(SameDouble(a.Stamp(), b.Stamp())) << a.Stamp() << " " << b.Stamp();
  EXPECT_EQ(a.Shades(), b.Shades());
  EXPECT_EQ(PathOf(a.Link()), PathOf(b.Link()));
  ASSERT_EQ(a.Items().Count(), b.Items().Count());
  for (int32_t i = 0; i < a.Items().Count(); ++i) {
    EXPECT_EQ(a.Item(i)->Size(), b.Item(i)->Size());
    EXPECT_EQ(a.Item(i)->Caption(), b.Item(i)->Caption());
    EXPECT_EQ(a.Item(i)->Shade(), b.Item(i)->Shade());
    EXPECT_EQ(PathOf(a.Item(i)->Target()), PathOf(b.Item(i)->Target()));
  }
  ASSERT_EQ(a.ComponentCount(), b.ComponentCount());
  for (int32_t i = 0; i < a.ComponentCount(); ++i) {
    ExpectSame(*static_cast<TSample*>(a.Components(i)), *static_cast<TSample*>(b.Components(i)));
  }
}

using rtltest::MessageOf;

// A root with every kind of property set away from its default, two owned
// components, references forwards and backwards, and items.
std::unique_ptr<TSample> MakeFilled() {
  auto root = std::make_unique<TSample>(nullptr);
  root->SetName("Root");
  root->SetCount(-0 + 123456);
  root->SetFlags(4000000000u);
  root->SetBig(std::numeric_limits<int64_t>::min());
  root->SetSmall(-32768);
  root->SetTiny(255);
  root->SetText("It's a \"test\"\r\n\tcaf\xC3\xA9");
  root->SetActive(true);
  root->SetShade(shBlue);
  root->SetRatio(0.1);
  root->SetStamp(45321.503472222);
  root->SetShades(TShades{shGreen, shBlue});
  auto* child = new TSample(root.get());
  child->SetName("Child");
  child->SetRatio(-1.5e-300);
  child->SetShades(TShades{});
  auto* grand = new TSample(child);
  grand->SetName("Grand");
  grand->SetLink(root.get());
  root->SetLink(grand);
  auto* first = static_cast<TSampleItem*>(root->Items().Add());
  first->SetSize(-1);
  first->SetCaption("one");
  first->SetTarget(child);
  auto* second = static_cast<TSampleItem*>(root->Items().Add());
  second->SetShade(shGreen);
  return root;
}

TEST(ComponentTextTest, EveryKindRoundTrips) {
  const auto source = MakeFilled();
  const std::string text = WriteComponentText(*source);
  TSample copy(nullptr);
  ReadComponentText(text, copy);
  ExpectSame(*source, copy);
  EXPECT_EQ(copy.Link(), copy.Components(0)->Components(0));
  EXPECT_EQ(copy.Item(0)->Target(), copy.Components(0));
  EXPECT_EQ(WriteComponentText(copy), text);
}

TEST(ComponentTextTest, TextForm) {
  TSample root(nullptr);
  root.SetName("Root");
  root.SetCount(3);
  root.SetText(std::string(70, 'x') + "'\x01");
  root.SetShades(TShades{shRed, shBlue});
  root.SetRatio(2.5);
  auto* item = static_cast<TSampleItem*>(root.Items().Add());
  item->SetCaption("it");
  root.Items().Add();
  auto* child = new TSample(&root);
  child->SetName("Kid");
  root.SetLink(child);
  EXPECT_EQ(WriteComponentText(root),
            Lines({"object Root: TSample",
                   "  Count = 3",
                   "  Flags = 0",
                   "  Text = ",
                   "    'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx' +",
                   "    'xxxxxx'#39#1",
                   "  Shade = shRed",
                   "  Ratio = 2.5",
                   "  Shades = [shRed, shBlue]",
                   "  Items = <",
                   "    item",
                   "      Caption = 'it'",
                   "    end",
                   "    item",
                   "    end>",
                   "  Link = Kid",
                   "  object Kid: TSample",
                   "    Flags = 0",
                   "    Shade = shRed",
                   "    Items = <>",
                   "  end",
                   "end"}));
}

TEST(ComponentTextTest, EveryByteValueRoundTrips) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  TSample source(nullptr);
  source.SetText(bytes + bytes);
  const std::string text = WriteComponentText(source);
  // The text itself is printable ASCII in lines.
  for (char c : text) {
    ASSERT_TRUE((c >= ' ' && c <= '~') || c == '\r' || c == '\n') << int(c);
  }
  TSample copy(nullptr);
  ReadComponentText(text, copy);
  EXPECT_EQ(copy.Text(), source.Text());

  // Readers also take doubled quotes and hexadecimal codes.
  ReadComponentText(Lines({"object TSample", "  Text = 'a''b'#$41#0'c' +", "  ''#255", "end"}),
                    copy);
  EXPECT_EQ(copy.Text(), std::string("a'bA\0c\xFF", 7));
}

TEST(ComponentTextTest, FloatsKeepEveryBit) {
  const double values[] = {0.0,
                           -0.0,
                           0.1,
                           1.0 / 3,
                           1e300,
                           -2.5e-310,
                           std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN()};
  for (double value : values) {
    TSample source(nullptr);
    source.SetRatio(value);
    source.SetStamp(value);
    TSample copy(nullptr);
    copy.SetRatio(7);
    copy.SetStamp(7);
    ReadComponentText(WriteComponentText(source), copy);
    // 0 is the default and not written: the reader keeps 7 then.
    const double expected = value == 0 ? 7 : value;
    EXPECT_TRUE(SameDouble(copy.Ratio(), expected)) << value;
    EXPECT_TRUE(SameDouble(copy.Stamp(), expected)) << value;
  }
  TSample copy(nullptr);
  ReadComponentText(Lines({"object TSample", "  Ratio = 5", "  Stamp = -1.25E+2", "end"}), copy);
  EXPECT_EQ(copy.Ratio(), 5);
  EXPECT_EQ(copy.Stamp(), -125);
}

TEST(ComponentTextTest, DefaultsAreLeftOutAndKept) {
  TSample fresh(nullptr);
  EXPECT_EQ(WriteComponentText(fresh),
            Lines({"object TSample", "  Flags = 0", "  Shade = shRed", "  Items = <>", "end"}));

  auto target = MakeFilled();
  const auto before = MakeFilled();
  ReadComponentText(WriteComponentText(fresh), *target);
  // Only what the text holds changed: Flags, Shade and the emptied items.
  EXPECT_EQ(target->Flags(), 0u);
  EXPECT_EQ(target->Shade(), shRed);
  EXPECT_EQ(target->Items().Count(), 0);
  EXPECT_EQ(target->Text(), before->Text());
  EXPECT_EQ(target->Count(), before->Count());
  EXPECT_EQ(target->Shades(), before->Shades());
  EXPECT_EQ(target->Link(), target->Components(0)->Components(0));
  EXPECT_EQ(target->ComponentCount(), 1);

  // A property written at a value equal to its default is read like any other.
  ReadComponentText(
      Lines({"object Root: TSample", "  Count = 0", "  Active = False", "  Link = nil", "end"}),
      *target);
  EXPECT_EQ(target->Count(), 0);
  EXPECT_FALSE(target->Active());
  EXPECT_EQ(target->Link(), nullptr);
}

TEST(ComponentTextTest, NestedObjectsFillExistingComponents) {
  TSample root(nullptr);
  auto* kept = new TSample(&root);
  kept->SetName("Kept");
  kept->SetText("old");
  loadedLog.clear();
  ReadComponentText(Lines({"object Main: TSample", "  Count = 1", "  object kept: TSample",
                           "    Count = 2", "  end", "  object Made: TSample", "    Count = 3",
                           "    object Inner: TOther", "    end", "  end", "end"}),
                    root);
  EXPECT_EQ(root.Name(), "Main");
  ASSERT_EQ(root.ComponentCount(), 2);
  EXPECT_EQ(root.Components(0), kept);
  EXPECT_EQ(kept->Count(), 2);
  EXPECT_EQ(kept->Text(), "old");
  auto* made = static_cast<TSample*>(root.FindComponent("Made"));
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->Count(), 3);
  EXPECT_EQ(made->Components(0)->ClassName(), "TOther");
  EXPECT_EQ(made->Components(0)->Name(), "Inner");
  // Setters run while loading; Loaded comes afterwards, root first.
  EXPECT_TRUE(root.seenLoading);
  EXPECT_EQ(loadedLog, (std::vector<std::string>{"Main", "Kept", "Made"}));
  for (TComponent* c : {static_cast<TComponent*>(&root), static_cast<TComponent*>(kept),
                        static_cast<TComponent*>(made), made->Components(0)}) {
    EXPECT_FALSE(c->ComponentState().Contains(csLoading));
    EXPECT_FALSE(c->ComponentState().Contains(csReading));
  }
}

TEST(ComponentTextTest, StreamsCarryTheText) {
  const auto source = MakeFilled();
  TMemoryStream stream;
  stream.WriteBuffer("junk", 4);
  WriteComponentText(stream, *source);
  stream.SetPosition(4);
  TSample copy(nullptr);
  ReadComponentText(stream, copy);
  ExpectSame(*source, copy);
}

TEST(ComponentTextTest, WriterRefusesWhatCannotBeRead) {
  TSample outside(nullptr);
  outside.SetName("Outside");
  TSample root(nullptr);
  root.SetLink(&outside);
  EXPECT_EQ(MessageOf([&] { WriteComponentText(root); }),
            "EWriteError: Property Link refers to component Outside, which is not part of the "
            "text");
  root.SetLink(&root);
  EXPECT_EQ(MessageOf([&] { WriteComponentText(root); }),
            "EWriteError: Property Link refers to the unnamed root component");
  root.SetLink(nullptr);
  root.SetShade(static_cast<TShade>(7));
  EXPECT_EQ(MessageOf([&] { WriteComponentText(root); }),
            "EWriteError: Invalid value 7 for property Shade");
}

// Each case is read into a filled root; the failure must name its line and
// leave the root exactly as it was.
TEST(ComponentTextTest, MalformedTextIsRefusedWithItsLine) {
  // Lines 1 to 8 change properties, the items and the components; the cases
  // append the fault and the rest.
  const std::string prefix =
      Lines({"object Root: TSample", "  Count = 99", "  Text = 'changed'", "  Items = <",
             "    item", "      Size = 5", "    end>", "  Link = Root"});
  const std::string child = Lines({"  object NewChild: TSample", "    Count = 3", "  end"});
  struct Case {
    std::string text;
    const char* message;
  };
  const std::string deep = [] {
    std::string text;
    for (int i = 0; i < 70; ++i) text += "object TSample\r\n";
    return text;
  }();
  const Case cases[] = {
      {"", "Line 1: Unexpected end of text"},
      {"objects Root: TSample\r\nend", "Line 1: 'object' expected"},
      {Lines({"object Root: TOther", "end"}), "Line 1: Class TOther does not match TSample"},
      {prefix + Lines({"  Colour = shRed", "end"}),
       "Line 9: Property Colour does not exist in TSample"},
      {prefix + Lines({"  Items = <", "    item", "      Width = 1", "    end>", "end"}),
       "Line 11: Property Width does not exist in TSampleItem"},
      {prefix + child + Lines({"  object Bad: TMissing", "  end", "end"}),
       "Line 12: Class TMissing not found"},
      {prefix + child + Lines({"  object Kid: TOther", "  end", "end"}),
       "Line 12: Component Kid is a TSample, not a TOther"},
      {prefix + child + child + "end\r\n", "Line 12: A component named NewChild already exists"},
      {prefix, "Line 8: Unexpected end of text: object Root has no 'end'"},
      {prefix + child, "Line 11: Unexpected end of text: object Root has no 'end'"},
      {prefix + "  Shade =", "Line 9: Unexpected end of text"},
      {prefix + "  Items = <\r\n    item\r\n      Size = 1\r\n",
       "Line 11: Unexpected end of text: collection item has no 'end'"},
      {prefix + Lines({"  Items = <", "    item", "    end", "end"}),
       "Line 12: 'item' or '>' expected"},
      {prefix + Lines({"  Text = 'open", "end"}), "Line 9: Unterminated string"},
      {prefix + Lines({"  Text = 'a' +", "  3", "end"}), "Line 10: String after '+' expected"},
      {prefix + Lines({"  Text = #256", "end"}), "Line 9: Character code #256 out of range"},
      {prefix + Lines({"  Text = 12", "end"}), "Line 9: String expected for property Text"},
      {prefix + Lines({"  Count = 'x'", "end"}), "Line 9: Integer expected for property Count"},
      {prefix + Lines({"  Count = 1.5", "end"}), "Line 9: Integer expected for property Count"},
      {prefix + Lines({"  Count = 2147483648", "end"}),
       "Line 9: Value 2147483648 out of range for property Count"},
      {prefix + Lines({"  Small = -32769", "end"}),
       "Line 9: Value -32769 out of range for property Small"},
      {prefix + Lines({"  Tiny = 256", "end"}), "Line 9: Value 256 out of range for property Tiny"},
      {prefix + Lines({"  Flags = -1", "end"}), "Line 9: Value -1 out of range for property Flags"},
      {prefix + Lines({"  Big = 9223372036854775808", "end"}),
       "Line 9: Value 9223372036854775808 out of range for property Big"},
      {prefix + Lines({"  Count = 12abc", "end"}), "Line 9: Invalid number"},
      {prefix + Lines({"  Active = Yes", "end"}), "Line 9: Invalid value Yes for property Active"},
      {prefix + Lines({"  Shade = shPink", "end"}),
       "Line 9: Invalid value shPink for property Shade"},
      {prefix + Lines({"  Ratio = 'x'", "end"}),
       "Line 9: Invalid value (a string) for property Ratio"},
      {prefix + Lines({"  Ratio = 1e999", "end"}),
       "Line 9: Invalid value 1e999 for property Ratio"},
      {prefix + Lines({"  Shades = [shRed, shPink]", "end"}),
       "Line 9: Invalid set element shPink for property Shades"},
      {prefix + Lines({"  Shades = [shRed shBlue]", "end"}), "Line 9: ',' or ']' expected"},
      {prefix + Lines({"  Shades = shRed", "end"}), "Line 9: Set expected for property Shades"},
      {prefix + Lines({"  Items = 3", "end"}), "Line 9: Collection expected for property Items"},
      {prefix + Lines({"  Link = Nobody", "end"}),
       "Line 9: Component Nobody not found for property Link"},
      {prefix + Lines({"  Link = 'Root'", "end"}),
       "Line 9: Component name expected for property Link"},
      {prefix + child + Lines({"  object Stranger: TOther", "  end", "  Link = Stranger", "end"}),
       "Line 14: Error reading Root.Link: Component Stranger of class TOther does not fit "
       "property Link"},
      {prefix + child + Lines({"  object Deep: TSample", "    Count = -5", "  end", "end"}),
       "Line 13: Error reading Root.Deep.Count: Count must not be negative"},
      {prefix + Lines({"  Count ? 1", "end"}), "Line 9: Invalid character '?'"},
      {prefix + Lines({"  Count 1", "end"}), "Line 9: '=' after Count expected"},
      {prefix + Lines({"  Count = (1)", "end"}), "Line 9: String or ')' expected"},
      {prefix + Lines({"end", "end"}), "Line 10: End of text expected"},
      {prefix + "  Text = '" + std::string(1, '\0') + "'\r\nend",
       "Line 9: Invalid character #0 in string"},
      {deep, "Line 66: Objects nested too deeply"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto root = MakeFilled();
    auto* kid = new TSample(root.get());
    kid->SetName("Kid");
    const std::string before = WriteComponentText(*root);
    const int32_t firstId = root->Items().Items(0)->ID();
    TCollectionItem* firstItem = root->Items().Items(0);
    loadedLog.clear();

    try {
      ReadComponentText(c.text, *root);
      ADD_FAILURE() << "read without error";
    } catch (const EReadError& e) {
      EXPECT_EQ(e.Message(), c.message);
    }

    EXPECT_EQ(WriteComponentText(*root), before);
    EXPECT_EQ(root->Items().Items(0), firstItem);
    EXPECT_EQ(root->Items().Items(0)->ID(), firstId);
    EXPECT_EQ(root->ComponentCount(), 2);
    EXPECT_EQ(root->Link(), root->Components(0)->Components(0));
    EXPECT_FALSE(root->ComponentState().Contains(csLoading));
    EXPECT_FALSE(root->ComponentState().Contains(csReading));
    EXPECT_TRUE(loadedLog.empty());
  }
}

TEST(ComponentTextTest, RegistryIgnoresCase) {
  EXPECT_TRUE(static_cast<bool>(GetClass("tsample")));
  RegisterClass("TTemporary", [](TComponent* owner) -> TComponent* { return new TOther(owner); });
  EXPECT_TRUE(static_cast<bool>(GetClass("TTEMPORARY")));
  UnRegisterClass("ttemporary");
  EXPECT_FALSE(static_cast<bool>(GetClass("TTemporary")));
}

}  // namespace
}  // namespace plat
