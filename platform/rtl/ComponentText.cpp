#include "platform/rtl/ComponentText.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/ScopeGuard.h"
#include "platform/rtl/Strings.h"

namespace plat {

namespace {

constexpr const char* kLineBreak = "\r\n";
// Characters of a string per line before the writer continues it with "+".
constexpr size_t kLineLength = 64;
// Objects, collections and items nested deeper than this are refused, so that
// hostile text cannot exhaust the stack.
constexpr int kMaxDepth = 64;

// ---------------------------------------------------------------- registry

struct Registry {
  std::mutex mutex;
  std::map<std::string, TComponentClass> classes;  // keyed by upper-case name
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

// ---------------------------------------------------------------- errors

[[noreturn]] void Fail(int line, const std::string& message) {
  throw EReadError("Line " + std::to_string(line) + ": " + message);
}

bool IsIdentStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsIdentChar(char c) {
  return IsIdentStart(c) || IsDigit(c);
}
bool IsHexDigit(char c) {
  return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

std::string Describe(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte > ' ' && byte < 127) return std::string("'") + c + "'";
  return "#" + std::to_string(byte);
}

// ---------------------------------------------------------------- lexer

enum class TokenKind : uint8_t { End, Identifier, Integer, Float, String, Symbol, Binary };

struct Token {
  TokenKind kind;
  std::string text;  // identifier, number text, string bytes or the symbol
  int line;
};

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  std::vector<Token> Run() {
    std::vector<Token> tokens;
    int lastLine = 1;
    while (true) {
      SkipBlanks();
      if (p_ >= text_.size()) break;
      tokens.push_back(Next());
      lastLine = tokens.back().line;
    }
    // Truncated text is reported at the last line that held something.
    tokens.push_back(Token{TokenKind::End, std::string(), lastLine});
    return tokens;
  }

 private:
  void SkipBlanks() {
    while (p_ < text_.size()) {
      const char c = text_[p_];
      if (c == '\n') {
        ++line_;
        ++p_;
      } else if (c == '\r') {
        ++line_;
        ++p_;
        if (p_ < text_.size() && text_[p_] == '\n') ++p_;
      } else if (c == ' ' || c == '\t' || c == '\f' || c == '\v') {
        ++p_;
      } else {
        break;
      }
    }
  }

  bool At(size_t offset, bool (*test)(char)) const {
    return p_ + offset < text_.size() && test(text_[p_ + offset]);
  }

  Token Next() {
    const char c = text_[p_];
    if (IsIdentStart(c)) {
      const size_t start = p_;
      while (At(0, IsIdentChar)) ++p_;
      return Token{TokenKind::Identifier, std::string(text_.substr(start, p_ - start)), line_};
    }
    if (IsDigit(c) || c == '$' ||
        (c == '-' && p_ + 1 < text_.size() && (IsDigit(text_[p_ + 1]) || text_[p_ + 1] == '$'))) {
      return Number();
    }
    if (c == '\'' || c == '#') return String();
    if (c == '{') return Binary();
    if (std::string_view("=:[]<>,+.-(){}").find(c) != std::string_view::npos) {
      ++p_;
      return Token{TokenKind::Symbol, std::string(1, c), line_};
    }
    Fail(line_, "Invalid character " + Describe(c));
  }

  Token Number() {
    const size_t start = p_;
    TokenKind kind = TokenKind::Integer;
    if (text_[p_] == '-') ++p_;
    if (text_[p_] == '$') {
      ++p_;
      if (!At(0, IsHexDigit)) Fail(line_, "Invalid number");
      while (At(0, IsHexDigit)) ++p_;
    } else {
      while (At(0, IsDigit)) ++p_;
      if (p_ < text_.size() && text_[p_] == '.' && At(1, IsDigit)) {
        kind = TokenKind::Float;
        ++p_;
        while (At(0, IsDigit)) ++p_;
      }
      if (p_ < text_.size() && (text_[p_] == 'e' || text_[p_] == 'E')) {
        kind = TokenKind::Float;
        ++p_;
        if (p_ < text_.size() && (text_[p_] == '+' || text_[p_] == '-')) ++p_;
        if (!At(0, IsDigit)) Fail(line_, "Invalid number");
        while (At(0, IsDigit)) ++p_;
      }
    }
    if (At(0, IsIdentChar) || (p_ < text_.size() && text_[p_] == '.')) {
      Fail(line_, "Invalid number");
    }
    return Token{kind, std::string(text_.substr(start, p_ - start)), line_};
  }

  // Pairs of hexadecimal digits between braces, over any number of lines.
  Token Binary() {
    const int line = line_;
    ++p_;
    std::string value;
    int high = -1;
    while (true) {
      SkipBlanks();
      if (p_ >= text_.size()) Fail(line_, "Unterminated binary data");
      const char c = text_[p_++];
      if (c == '}') break;
      if (!IsHexDigit(c)) Fail(line_, "Invalid character " + Describe(c) + " in binary data");
      const int digit = IsDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10;
      if (high < 0) {
        high = digit;
      } else {
        value += static_cast<char>(high * 16 + digit);
        high = -1;
      }
    }
    if (high >= 0) Fail(line_, "Odd number of digits in binary data");
    return Token{TokenKind::Binary, std::move(value), line};
  }

  // Quoted runs and #nn character codes written next to each other.
  Token String() {
    std::string value;
    while (p_ < text_.size() && (text_[p_] == '\'' || text_[p_] == '#')) {
      if (text_[p_] == '\'') {
        ++p_;
        while (true) {
          if (p_ >= text_.size() || text_[p_] == '\r' || text_[p_] == '\n') {
            Fail(line_, "Unterminated string");
          }
          if (text_[p_] == '\'') {
            if (p_ + 1 < text_.size() && text_[p_ + 1] == '\'') {
              value += '\'';
              p_ += 2;
              continue;
            }
            ++p_;
            break;
          }
          // The writer codes control characters; raw ones mean damaged text.
          if (static_cast<unsigned char>(text_[p_]) < ' ' && text_[p_] != '\t') {
            Fail(line_, "Invalid character " + Describe(text_[p_]) + " in string");
          }
          value += text_[p_++];
        }
      } else {
        ++p_;
        const bool hex = p_ < text_.size() && text_[p_] == '$';
        if (hex) ++p_;
        const size_t start = p_;
        while (At(0, hex ? IsHexDigit : IsDigit)) ++p_;
        unsigned code = 0;
        const auto [end, error] =
            std::from_chars(text_.data() + start, text_.data() + p_, code, hex ? 16 : 10);
        if (start == p_ || error != std::errc() || end != text_.data() + p_) {
          Fail(line_, "Invalid character code");
        }
        if (code > 255) Fail(line_, "Character code #" + std::to_string(code) + " out of range");
        value += static_cast<char>(code);
      }
    }
    return Token{TokenKind::String, std::move(value), line_};
  }

  std::string_view text_;
  size_t p_ = 0;
  int line_ = 1;
};

// ---------------------------------------------------------------- syntax tree

struct ItemNode;

struct ValueNode {
  enum Kind : uint8_t {
    kInteger,
    kFloat,
    kString,
    kIdent,
    kSet,
    kCollection,
    kStrings,
    kBinary
  } kind = kInteger;
  int line = 0;
  std::string text;                   // number text, string bytes, identifier path or bytes
  std::vector<std::string> elements;  // of a set, or the lines of a string list
  std::vector<ItemNode> items;        // of a collection
};

struct PropNode {
  std::string name;
  int line = 0;
  ValueNode value;
};

struct ItemNode {
  int line = 0;
  std::vector<PropNode> props;
};

struct ObjectNode {
  int line = 0;
  bool inherited = false;  // "inherited": changes a component that exists already
  std::string name;
  std::string className;
  std::vector<PropNode> props;
  std::vector<ObjectNode> children;
};

class Parser {
 public:
  explicit Parser(const std::vector<Token>& tokens) : tokens_(tokens) {}

  ObjectNode Root() {
    ObjectNode root = Object(0);
    if (Peek().kind != TokenKind::End) Fail(Peek().line, "End of text expected");
    return root;
  }

 private:
  const Token& Peek() const { return tokens_[i_]; }
  const Token& Take() {
    const Token& token = tokens_[i_];
    if (token.kind != TokenKind::End) ++i_;
    return token;
  }
  static bool IsWord(const Token& token, const char* word) {
    return token.kind == TokenKind::Identifier && SameText(token.text, word);
  }
  static bool IsSymbol(const Token& token, char c) {
    return token.kind == TokenKind::Symbol && token.text[0] == c;
  }
  [[noreturn]] static void Unexpected(const Token& token, const std::string& expected) {
    if (token.kind == TokenKind::End) Fail(token.line, "Unexpected end of text");
    Fail(token.line, expected + " expected");
  }

  std::string Identifier(const std::string& what) {
    const Token& token = Take();
    if (token.kind != TokenKind::Identifier) Unexpected(token, what);
    return token.text;
  }

  // An identifier or a dotted path of them.
  std::string Path(const std::string& what) {
    std::string path = Identifier(what);
    while (IsSymbol(Peek(), '.')) {
      Take();
      path += "." + Identifier("Identifier");
    }
    return path;
  }

  ObjectNode Object(int depth) {
    if (depth > kMaxDepth) Fail(Peek().line, "Objects nested too deeply");
    const Token& start = Take();
    if (!IsWord(start, "object") && !IsWord(start, "inherited")) {
      Unexpected(start, "'object'");
    }
    ObjectNode node;
    node.line = start.line;
    node.inherited = IsWord(start, "inherited");
    const std::string first = Identifier("Class name");
    if (IsSymbol(Peek(), ':')) {
      Take();
      node.name = first;
      node.className = Identifier("Class name");
    } else {
      node.className = first;
    }
    while (true) {
      const Token& token = Peek();
      if (token.kind == TokenKind::End) {
        Fail(token.line, "Unexpected end of text: object " +
                             (node.name.empty() ? node.className : node.name) + " has no 'end'");
      }
      if (IsWord(token, "end")) {
        Take();
        return node;
      }
      if (IsWord(token, "object") || IsWord(token, "inherited")) {
        node.children.push_back(Object(depth + 1));
      } else if (token.kind == TokenKind::Identifier) {
        node.props.push_back(Property(depth));
      } else {
        Unexpected(token, "Property name or 'end'");
      }
    }
  }

  PropNode Property(int depth) {
    PropNode prop;
    prop.line = Peek().line;
    prop.name = Path("Property name");
    if (!IsSymbol(Peek(), '=')) Unexpected(Peek(), "'=' after " + prop.name);
    Take();
    prop.value = Value(depth);
    return prop;
  }

  // A string with its "+" continuations.
  std::string JoinedString(const Token& first) {
    std::string text = first.text;
    while (IsSymbol(Peek(), '+')) {
      Take();
      const Token& next = Take();
      if (next.kind != TokenKind::String) Unexpected(next, "String after '+'");
      text += next.text;
    }
    return text;
  }

  ValueNode Value(int depth) {
    const Token& token = Take();
    ValueNode value;
    value.line = token.line;
    switch (token.kind) {
      case TokenKind::Binary:
        value.kind = ValueNode::kBinary;
        value.text = token.text;
        return value;
      case TokenKind::Integer:
        value.kind = ValueNode::kInteger;
        value.text = token.text;
        return value;
      case TokenKind::Float:
        value.kind = ValueNode::kFloat;
        value.text = token.text;
        return value;
      case TokenKind::String:
        value.kind = ValueNode::kString;
        value.text = JoinedString(token);
        return value;
      case TokenKind::Identifier:
        --i_;
        value.kind = ValueNode::kIdent;
        value.text = Path("Identifier");
        return value;
      case TokenKind::End:
        Fail(token.line, "Unexpected end of text");
      case TokenKind::Symbol:
        break;
    }
    if (IsSymbol(token, '-') && Peek().kind == TokenKind::Identifier) {
      value.kind = ValueNode::kIdent;
      value.text = "-" + Take().text;
      return value;
    }
    if (IsSymbol(token, '(')) {
      value.kind = ValueNode::kStrings;
      while (true) {
        const Token& next = Take();
        if (IsSymbol(next, ')')) return value;
        if (next.kind != TokenKind::String) Unexpected(next, "String or ')'");
        value.elements.push_back(JoinedString(next));
      }
    }
    if (IsSymbol(token, '[')) {
      value.kind = ValueNode::kSet;
      if (IsSymbol(Peek(), ']')) {
        Take();
        return value;
      }
      while (true) {
        value.elements.push_back(Identifier("Set element"));
        const Token& next = Take();
        if (IsSymbol(next, ']')) return value;
        if (!IsSymbol(next, ',')) Unexpected(next, "',' or ']'");
      }
    }
    if (IsSymbol(token, '<')) {
      if (depth + 1 > kMaxDepth) Fail(token.line, "Objects nested too deeply");
      value.kind = ValueNode::kCollection;
      while (true) {
        const Token& next = Take();
        if (IsSymbol(next, '>')) return value;
        if (!IsWord(next, "item")) Unexpected(next, "'item' or '>'");
        ItemNode item;
        item.line = next.line;
        while (!IsWord(Peek(), "end")) {
          if (Peek().kind == TokenKind::End) {
            Fail(Peek().line, "Unexpected end of text: collection item has no 'end'");
          }
          if (Peek().kind != TokenKind::Identifier) Unexpected(Peek(), "Property name or 'end'");
          item.props.push_back(Property(depth + 1));
        }
        Take();
        value.items.push_back(std::move(item));
      }
    }
    Fail(token.line, "Invalid property value " + Describe(token.text[0]));
  }

  const std::vector<Token>& tokens_;
  size_t i_ = 0;
};

// ---------------------------------------------------------------- values

bool ParseSigned(const std::string& text, int64_t& value) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  const bool negative = begin != end && *begin == '-';
  if (negative) ++begin;
  const bool hex = begin != end && *begin == '$';
  if (hex) ++begin;
  uint64_t magnitude = 0;
  const auto [last, error] = std::from_chars(begin, end, magnitude, hex ? 16 : 10);
  if (error != std::errc() || last != end) return false;
  if (negative) {
    if (magnitude > uint64_t{1} << 63) return false;
    value = static_cast<int64_t>(0 - magnitude);
    return true;
  }
  if (magnitude > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
  value = static_cast<int64_t>(magnitude);
  return true;
}

bool ParseUnsigned(const std::string& text, uint64_t& value) {
  if (!text.empty() && text[0] == '-') return false;
  const bool hex = !text.empty() && text[0] == '$';
  const char* begin = text.data() + (hex ? 1 : 0);
  const char* end = text.data() + text.size();
  const auto [last, error] = std::from_chars(begin, end, value, hex ? 16 : 10);
  return error == std::errc() && last == end;
}

bool ParseDouble(const ValueNode& node, double& value) {
  if (node.kind == ValueNode::kIdent) {
    if (SameText(node.text, "INF")) {
      value = std::numeric_limits<double>::infinity();
    } else if (SameText(node.text, "-INF")) {
      value = -std::numeric_limits<double>::infinity();
    } else if (SameText(node.text, "NAN")) {
      value = std::numeric_limits<double>::quiet_NaN();
    } else {
      return false;
    }
    return true;
  }
  if (node.kind != ValueNode::kInteger && node.kind != ValueNode::kFloat) return false;
  if (node.text.find('$') != std::string::npos) {
    int64_t integer = 0;
    if (!ParseSigned(node.text, integer)) return false;
    value = static_cast<double>(integer);
    return true;
  }
  const char* end = node.text.data() + node.text.size();
  const auto [last, error] = std::from_chars(node.text.data(), end, value);
  return error == std::errc() && last == end;
}

int32_t IndexOfName(const std::vector<std::string>& names, const std::string& name) {
  for (size_t i = 0; i < names.size(); ++i) {
    if (SameText(names[i], name)) return static_cast<int32_t>(i);
  }
  return -1;
}

std::string Shown(const ValueNode& node) {
  switch (node.kind) {
    case ValueNode::kInteger:
    case ValueNode::kFloat:
    case ValueNode::kIdent:
      return node.text;
    case ValueNode::kString:
      return "(a string)";
    case ValueNode::kSet:
      return "(a set)";
    case ValueNode::kCollection:
      return "(a collection)";
    case ValueNode::kStrings:
      return "(a list of strings)";
    case ValueNode::kBinary:
      return "(binary data)";
  }
  return std::string();
}

}  // namespace

// ---------------------------------------------------------------- reader

// Applies a parsed text to a component tree, keeping an undo log so that a
// failure anywhere leaves the tree as it was.
class ComponentTextReader {
 public:
  explicit ComponentTextReader(TComponent& root) : root_(root) {}

  // The texts of a form and of its ancestors, the farthest ancestor first:
  // each later text names the class of the one before it only by
  // "inherited", so only the last text's class is checked.
  void Read(const std::vector<ObjectNode>& nodes) {
    {
      const auto rollback = OnScopeFailure([this] { Rollback(); });
      for (size_t i = 0; i < nodes.size(); ++i) {
        const ObjectNode& node = nodes[i];
        if (i + 1 == nodes.size() && !SameText(node.className, root_.ClassName())) {
          Fail(node.line, "Class " + node.className + " does not match " + root_.ClassName());
        }
        if (node.inherited != (i > 0)) {
          Fail(node.line, i > 0 ? "'inherited' expected" : "'object' expected");
        }
        if (!node.name.empty() && node.name != root_.Name()) {
          Rename(root_, node.name, node.line);
        }
        ReadObject(node, root_, node.name.empty() ? root_.ClassName() : node.name);
      }
      for (const Fixup& fixup : fixups_) {
        TComponent* target = nullptr;
        if (!SameText(fixup.target, "nil")) {
          target = Resolve(fixup.target);
          if (target == nullptr) {
            Fail(fixup.line,
                 "Component " + fixup.target + " not found for property " + fixup.info->Name);
          }
        }
        SetValue(*fixup.object, *fixup.info, TPropValue(target), fixup.line, fixup.path);
      }
    }
    for (auto& commit : commit_) commit();
    FinishLoading();
  }

 private:
  struct Fixup {
    TPersistent* object;
    const TPropInfo* info;
    std::string target;
    int line;
    std::string path;
  };

  void Rollback() {
    for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
      try {
        (*it)();
      } catch (...) {
        // Best effort: the remaining steps still run.
      }
    }
    undo_.clear();
  }

  void FinishLoading() {
    for (TComponent* component : loaded_) component->state_.Exclude(csReading);
    std::exception_ptr first;
    for (TComponent* component : loaded_) {
      try {
        component->Loaded();
      } catch (...) {
        if (!first) first = std::current_exception();
      }
      component->state_.Exclude(csLoading);
    }
    if (first) std::rethrow_exception(first);
  }

  void MarkLoading(TComponent& component) {
    if (std::find(loaded_.begin(), loaded_.end(), &component) != loaded_.end()) return;
    const bool wasLoading = component.state_.Contains(csLoading);
    const bool wasReading = component.state_.Contains(csReading);
    component.state_.Include(csLoading).Include(csReading);
    loaded_.push_back(&component);
    undo_.push_back([&component, wasLoading, wasReading] {
      if (!wasLoading) component.state_.Exclude(csLoading);
      if (!wasReading) component.state_.Exclude(csReading);
    });
  }

  void Rename(TComponent& component, const std::string& name, int line) {
    const std::string old = component.Name();
    try {
      component.SetName(name);
    } catch (const std::exception& e) {
      Fail(line, e.what());
    }
    undo_.push_back([&component, old] { component.SetName(old); });
  }

  void ReadObject(const ObjectNode& node, TComponent& component, const std::string& path) {
    MarkLoading(component);
    for (const PropNode& prop : node.props) ReadProperty(prop, component, path);
    std::vector<std::string> seen;
    for (const ObjectNode& child : node.children) {
      if (!child.name.empty()) {
        for (const std::string& name : seen) {
          if (SameText(name, child.name)) {
            Fail(child.line, "A component named " + child.name + " already exists");
          }
        }
        seen.push_back(child.name);
      }
      TComponent* target = child.name.empty() ? nullptr : component.FindComponent(child.name);
      if (child.inherited && target == nullptr) {
        Fail(child.line, "Inherited component " + child.name + " not found");
      }
      if (target != nullptr) {
        if (!SameText(target->ClassName(), child.className)) {
          Fail(child.line, "Component " + child.name + " is a " + target->ClassName() + ", not a " +
                               child.className);
        }
      } else {
        target = Create(child, component);
      }
      ReadObject(child, *target,
                 child.name.empty() ? path + "." + child.className : path + "." + child.name);
    }
  }

  TComponent* Create(const ObjectNode& node, TComponent& owner) {
    const TComponentClass factory = GetClass(node.className);
    if (!factory) Fail(node.line, "Class " + node.className + " not found");
    TComponent* created = nullptr;
    try {
      created = factory(&owner);
    } catch (const std::exception& e) {
      Fail(node.line, "Cannot create " + node.className + ": " + e.what());
    }
    PLAT_ASSERT(created != nullptr && created->Owner() == &owner,
                "A class factory must return a component of the given owner");
    undo_.push_back([created] { std::unique_ptr<TComponent> made(created); });
    if (!node.name.empty()) Rename(*created, node.name, node.line);
    return created;
  }

  void ReadProperties(const std::vector<PropNode>& props, TPersistent& object,
                      const std::string& path) {
    for (const PropNode& prop : props) ReadProperty(prop, object, path);
  }

  void ReadProperty(const PropNode& prop, TPersistent& object, const std::string& path) {
    ReadProperty(prop, prop.name, object, path);
  }

  // Name is what is left of the property's dotted name below object.
  void ReadProperty(const PropNode& prop, const std::string& name, TPersistent& object,
                    const std::string& path) {
    const TPropInfo* info = object.PublishedProperties().Find(name);
    const size_t dot = name.find('.');
    if (info == nullptr && dot != std::string::npos) {
      const std::string head = name.substr(0, dot);
      const std::string rest = name.substr(dot + 1);
      const TPropInfo* outer = object.PublishedProperties().Find(head);
      if (outer != nullptr && outer->Kind == pkObject) {
        ReadProperty(prop, rest, outer->GetObject(object), path + "." + outer->Name);
        return;
      }
      if (outer != nullptr && outer->Kind == pkStrings && SameText(rest, "Strings")) {
        if (prop.value.kind != ValueNode::kStrings) {
          Fail(prop.line, "List of strings expected for property " + outer->Name);
        }
        ReadStrings(prop, outer->GetStrings(object), path + "." + outer->Name);
        return;
      }
    }
    if (info == nullptr || info->Kind == pkObject || info->Kind == pkStrings) {
      Fail(prop.line, "Property " + prop.name + " does not exist in " + object.ClassName());
    }
    switch (info->Kind) {
      case pkMethod:
        if (prop.value.kind != ValueNode::kIdent) {
          Fail(prop.line, "Method name expected for event " + info->Name);
        }
        BindMethod(prop, *info, object);
        return;
      case pkCollection:
        if (prop.value.kind != ValueNode::kCollection) {
          Fail(prop.line, "Collection expected for property " + info->Name);
        }
        ReadCollection(prop, info->GetCollection(object), path + "." + info->Name);
        return;
      case pkComponent:
        if (prop.value.kind != ValueNode::kIdent) {
          Fail(prop.line, "Component name expected for property " + info->Name);
        }
        fixups_.push_back(Fixup{&object, info, prop.value.text, prop.line, path});
        return;
      default:
        SetValue(object, *info, Convert(prop.value, *info), prop.line, path);
        return;
    }
  }

  void ReadStrings(const PropNode& prop, TStrings& strings, const std::string& path) {
    auto saved = std::make_shared<TStringList>();
    saved->Assign(&strings);
    TStrings* target = &strings;
    undo_.push_back([target, saved] { target->Assign(saved.get()); });
    try {
      strings.BeginUpdate();
      try {
        strings.Clear();
        for (const std::string& line : prop.value.elements) strings.Add(line);
      } catch (...) {
        strings.EndUpdate();
        throw;
      }
      strings.EndUpdate();
    } catch (const std::exception& e) {
      Fail(prop.line, "Error reading " + path + ": " + e.what());
    }
  }

  // Events bind to methods of the root component, found by name.
  void BindMethod(const PropNode& prop, const TPropInfo& info, TPersistent& object) {
    const std::any* method = nullptr;
    const std::string& name = prop.value.text;
    if (!SameText(name, "nil")) {
      const auto* owner = dynamic_cast<const IMethodOwner*>(&root_);
      method = owner == nullptr ? nullptr : owner->PublishedMethods().Find(name);
      if (method == nullptr) {
        Fail(prop.line, "Method " + name + " not found for event " + info.Name);
      }
      if (!info.FitsMethod(*method)) {
        Fail(prop.line, "Method " + name + " does not fit event " + info.Name);
      }
    }
    undo_.push_back(info.BindMethod(object, name, method));
  }

  void ReadCollection(const PropNode& prop, TCollection& collection, const std::string& path) {
    auto detached = std::make_shared<std::vector<TCollectionItem*>>(collection.DetachItems());
    TCollection* target = &collection;
    undo_.push_back([target, detached] {
      target->ReattachItems(std::move(*detached));
      detached->clear();
    });
    commit_.push_back([target, detached] { target->FreeDetached(*detached); });
    collection.BeginUpdate();
    const auto endUpdate = OnScopeExit([&collection] { collection.EndUpdate(); });
    int index = 0;
    for (const ItemNode& item : prop.value.items) {
      TCollectionItem* added = nullptr;
      try {
        added = collection.Add();
      } catch (const std::exception& e) {
        Fail(item.line, "Cannot add an item to " + path + ": " + e.what());
      }
      ReadProperties(item.props, *added, path + "[" + std::to_string(index++) + "]");
    }
  }

  TPropValue Convert(const ValueNode& value, const TPropInfo& info) {
    const std::string& name = info.Name;
    switch (info.Kind) {
      case pkInteger: {
        if (value.kind == ValueNode::kIdent) {
          for (const auto& ident : info.Idents) {
            if (SameText(ident.first, value.text)) return TPropValue(ident.second);
          }
        }
        if (value.kind != ValueNode::kInteger)
          Fail(value.line, "Integer expected for property " + name);
        int64_t number = 0;
        if (!ParseSigned(value.text, number) || number < info.MinValue || number > info.MaxValue) {
          Fail(value.line, "Value " + value.text + " out of range for property " + name);
        }
        return TPropValue(number);
      }
      case pkUnsigned: {
        if (value.kind != ValueNode::kInteger)
          Fail(value.line, "Integer expected for property " + name);
        uint64_t number = 0;
        if (!ParseUnsigned(value.text, number) || number > info.MaxUnsigned) {
          Fail(value.line, "Value " + value.text + " out of range for property " + name);
        }
        return TPropValue(number);
      }
      case pkString:
        if (value.kind != ValueNode::kString)
          Fail(value.line, "String expected for property " + name);
        return TPropValue(value.text);
      case pkBoolean:
        if (value.kind == ValueNode::kIdent && SameText(value.text, "True"))
          return TPropValue(true);
        if (value.kind == ValueNode::kIdent && SameText(value.text, "False"))
          return TPropValue(false);
        Fail(value.line, "Invalid value " + Shown(value) + " for property " + name);
      case pkEnumeration: {
        const int32_t ordinal =
            value.kind == ValueNode::kIdent ? IndexOfName(info.ValueNames, value.text) : -1;
        if (ordinal < 0)
          Fail(value.line, "Invalid value " + Shown(value) + " for property " + name);
        return TPropValue(static_cast<int64_t>(ordinal));
      }
      case pkFloat:
      case pkDate: {
        double number = 0;
        if (!ParseDouble(value, number)) {
          Fail(value.line, "Invalid value " + Shown(value) + " for property " + name);
        }
        return TPropValue(number);
      }
      case pkBinary:
        if (value.kind != ValueNode::kBinary)
          Fail(value.line, "Binary data expected for property " + name);
        return TPropValue(value.text);
      case pkSet: {
        if (value.kind != ValueNode::kSet) Fail(value.line, "Set expected for property " + name);
        uint64_t bits = 0;
        for (const std::string& element : value.elements) {
          const int32_t ordinal = IndexOfName(info.ValueNames, element);
          if (ordinal < 0) {
            Fail(value.line, "Invalid set element " + element + " for property " + name);
          }
          bits |= uint64_t{1} << ordinal;
        }
        return TPropValue(bits);
      }
      case pkCollection:
      case pkComponent:
      case pkObject:
      case pkStrings:
      case pkMethod:
        break;
    }
    Fail(value.line, "Invalid value for property " + name);
  }

  void SetValue(TPersistent& object, const TPropInfo& info, const TPropValue& value, int line,
                const std::string& path) {
    TPropValue old = info.Get(object);
    // Logged before the call, so that a setter failing half way is undone too.
    undo_.push_back([&object, &info, old] { info.Set(object, old); });
    try {
      info.Set(object, value);
    } catch (const std::exception& e) {
      Fail(line, "Error reading " + path + "." + info.Name + ": " + e.what());
    }
  }

  // A name, or a dotted path, below the root; the root by its own name.
  TComponent* Resolve(const std::string& path) const {
    size_t start = 0;
    TComponent* current = nullptr;
    while (true) {
      const size_t dot = path.find('.', start);
      const std::string part = path.substr(start, dot == std::string::npos ? dot : dot - start);
      if (current == nullptr) {
        current = root_.FindComponent(part);
        if (current == nullptr && !root_.Name().empty() && SameText(part, root_.Name())) {
          current = &root_;
        }
        // Forms name their controls uniquely over the whole form, so a control
        // nested in a panel is referred to by its name alone.
        if (current == nullptr) current = FindBelow(root_, part);
      } else {
        current = current->FindComponent(part);
      }
      if (current == nullptr || dot == std::string::npos) return current;
      start = dot + 1;
    }
  }

  static TComponent* FindBelow(const TComponent& owner, const std::string& name) {
    for (int32_t i = 0; i < owner.ComponentCount(); ++i) {
      TComponent* child = owner.Components(i);
      if (SameText(child->Name(), name)) return child;
      if (TComponent* found = FindBelow(*child, name)) return found;
    }
    return nullptr;
  }

  TComponent& root_;
  std::vector<std::function<void()>> undo_;
  std::vector<std::function<void()>> commit_;
  std::vector<TComponent*> loaded_;
  std::vector<Fixup> fixups_;
};

// ---------------------------------------------------------------- writer

class ComponentTextWriter {
 public:
  explicit ComponentTextWriter(const TComponent& root) : root_(root) {}

  std::string Write() {
    WriteObject(root_, 0);
    return std::move(out_);
  }

 private:
  // Marks a component csWriting for the time it is written.
  class WritingScope {
   public:
    explicit WritingScope(const TComponent& component)
        : component_(const_cast<TComponent&>(component)),
          was_(component_.state_.Contains(csWriting)) {
      component_.state_.Include(csWriting);
    }
    WritingScope(const WritingScope&) = delete;
    WritingScope& operator=(const WritingScope&) = delete;
    ~WritingScope() {
      if (!was_) component_.state_.Exclude(csWriting);
    }

   private:
    TComponent& component_;
    bool was_;
  };

  static std::string Indent(int indent) { return std::string(static_cast<size_t>(indent), ' '); }

  void WriteObject(const TComponent& component, int indent) {
    WritingScope scope(component);
    out_ += Indent(indent) + "object ";
    if (!component.Name().empty()) out_ += component.Name() + ": ";
    out_ += component.ClassName();
    out_ += kLineBreak;
    WriteProperties(component, indent + 2);
    for (int32_t i = 0; i < component.ComponentCount(); ++i) {
      WriteObject(*component.Components(i), indent + 2);
    }
    out_ += Indent(indent) + "end" + kLineBreak;
  }

  // Prefix names the sub-object being written ("Font.").
  void WriteProperties(const TPersistent& object, int indent, const std::string& prefix = "") {
    auto& mutableObject = const_cast<TPersistent&>(object);
    for (const TPropInfo& info : object.PublishedProperties()) {
      if (info.Stored && !info.Stored(object)) continue;
      if (info.Kind == pkCollection) {
        WriteCollection(prefix + info.Name, info.GetCollection(mutableObject), indent);
        continue;
      }
      if (info.Kind == pkObject) {
        WriteProperties(info.GetObject(mutableObject), indent, prefix + info.Name + ".");
        continue;
      }
      if (info.Kind == pkStrings) {
        WriteStrings(prefix + info.Name, info.GetStrings(mutableObject), indent);
        continue;
      }
      const TPropValue value = info.Get(object);
      if (info.IsDefault(value)) continue;
      out_ += Indent(indent) + prefix + info.Name + " = ";
      WriteValue(info, value, indent);
      out_ += kLineBreak;
    }
  }

  void WriteStrings(const std::string& name, const TStrings& strings, int indent) {
    if (strings.Count() == 0) return;
    out_ += Indent(indent) + name + ".Strings = (" + kLineBreak;
    for (int32_t i = 0; i < strings.Count(); ++i) {
      out_ += Indent(indent + 2);
      WriteString(strings.Strings(i), indent + 2);
      if (i + 1 == strings.Count()) out_ += ")";
      out_ += kLineBreak;
    }
  }

  // Bytes as hexadecimal digits, 32 bytes a line.
  void WriteBinary(const std::string& bytes, int indent) {
    static const char kDigits[] = "0123456789ABCDEF";
    out_ += "{";
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (i % 32 == 0) out_ += kLineBreak + Indent(indent + 2);
      const auto byte = static_cast<unsigned char>(bytes[i]);
      out_ += kDigits[byte >> 4];
      out_ += kDigits[byte & 15];
    }
    out_ += "}";
  }

  void WriteCollection(const std::string& name, const TCollection& collection, int indent) {
    out_ += Indent(indent) + name + " = <";
    if (collection.Count() == 0) {
      out_ += std::string(">") + kLineBreak;
      return;
    }
    out_ += kLineBreak;
    for (int32_t i = 0; i < collection.Count(); ++i) {
      out_ += Indent(indent + 2) + "item" + kLineBreak;
      WriteProperties(*collection.Items(i), indent + 4);
      out_ += Indent(indent + 2) + "end";
      if (i + 1 == collection.Count()) out_ += ">";
      out_ += kLineBreak;
    }
  }

  void WriteValue(const TPropInfo& info, const TPropValue& value, int indent) {
    switch (info.Kind) {
      case pkInteger:
      case pkEnumeration: {
        const int64_t number = std::get<int64_t>(value);
        if (info.Kind == pkInteger) {
          const auto named = std::find_if(info.Idents.begin(), info.Idents.end(),
                                          [number](const auto& ident) { return ident.second == number; });
          out_ += named != info.Idents.end() ? named->first : std::to_string(number);
        } else if (number >= 0 && number < static_cast<int64_t>(info.ValueNames.size())) {
          out_ += info.ValueNames[static_cast<size_t>(number)];
        } else {
          throw EWriteError("Invalid value " + std::to_string(number) + " for property " +
                            info.Name);
        }
        return;
      }
      case pkUnsigned:
        out_ += std::to_string(std::get<uint64_t>(value));
        return;
      case pkBoolean:
        out_ += std::get<bool>(value) ? "True" : "False";
        return;
      case pkFloat:
      case pkDate:
        out_ += FloatToStrRoundTrip(std::get<double>(value));
        return;
      case pkSet: {
        const uint64_t bits = std::get<uint64_t>(value);
        out_ += "[";
        bool first = true;
        for (size_t i = 0; i < 64; ++i) {
          if ((bits & (uint64_t{1} << i)) == 0) continue;
          if (i >= info.ValueNames.size()) {
            throw EWriteError("Invalid set element " + std::to_string(i) + " for property " +
                              info.Name);
          }
          if (!first) out_ += ", ";
          out_ += info.ValueNames[i];
          first = false;
        }
        out_ += "]";
        return;
      }
      case pkString:
        WriteString(std::get<std::string>(value), indent);
        return;
      case pkBinary:
        WriteBinary(std::get<std::string>(value), indent);
        return;
      case pkMethod:
        out_ += std::get<std::string>(value);
        return;
      case pkComponent:
        out_ += PathOf(std::get<TComponent*>(value), info);
        return;
      case pkCollection:
      case pkObject:
      case pkStrings:
        break;
    }
  }

  // Printable ASCII goes inside quotes; everything else, and the quote
  // itself, as #nn. Long strings start on a line of their own and continue
  // with "+" every kLineLength characters.
  void WriteString(const std::string& s, int indent) {
    if (s.empty()) {
      out_ += "''";
      return;
    }
    const std::string continuation = kLineBreak + Indent(indent + 2);
    if (s.size() > kLineLength) out_ += continuation;
    auto plain = [](char c) { return c >= ' ' && c <= '~' && c != '\''; };
    size_t i = 0;
    size_t lineStart = 0;
    while (i < s.size()) {
      if (plain(s[i])) {
        const size_t start = i;
        do {
          ++i;
        } while (i < s.size() && plain(s[i]) && i - lineStart < kLineLength);
        out_ += "'" + s.substr(start, i - start) + "'";
      } else {
        out_ += "#" + std::to_string(static_cast<unsigned char>(s[i]));
        ++i;
      }
      if (i - lineStart >= kLineLength && i < s.size()) {
        out_ += " +" + continuation;
        lineStart = i;
      }
    }
  }

  std::string PathOf(const TComponent* component, const TPropInfo& info) const {
    if (component == &root_) {
      if (root_.Name().empty()) {
        throw EWriteError("Property " + info.Name + " refers to the unnamed root component");
      }
      return root_.Name();
    }
    std::vector<std::string> parts;
    const TComponent* current = component;
    while (current != nullptr && current != &root_) {
      if (current->Name().empty()) {
        throw EWriteError("Property " + info.Name + " refers to an unnamed component");
      }
      parts.push_back(current->Name());
      current = current->Owner();
    }
    if (current == nullptr) {
      throw EWriteError("Property " + info.Name + " refers to component " + component->Name() +
                        ", which is not part of the text");
    }
    std::string path;
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
      if (!path.empty()) path += ".";
      path += *it;
    }
    return path;
  }

  const TComponent& root_;
  std::string out_;
};

// ---------------------------------------------------------------- entry points

void RegisterClass(const std::string& ClassName, TComponentClass Factory) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.classes[UpperCase(ClassName)] = std::move(Factory);
}

void UnRegisterClass(const std::string& ClassName) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.classes.erase(UpperCase(ClassName));
}

TComponentClass GetClass(const std::string& ClassName) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  const auto it = registry.classes.find(UpperCase(ClassName));
  return it == registry.classes.end() ? TComponentClass() : it->second;
}

std::string WriteComponentText(const TComponent& Instance) {
  return ComponentTextWriter(Instance).Write();
}

void WriteComponentText(TStream& Stream, const TComponent& Instance) {
  const std::string text = WriteComponentText(Instance);
  WriteStreamData(Stream, text.data(), static_cast<int64_t>(text.size()));
}

void ReadComponentText(const std::string& Text, TComponent& Instance) {
  ReadComponentTexts({Text}, Instance);
}

void ReadComponentTexts(const std::vector<std::string>& Texts, TComponent& Instance) {
  std::vector<ObjectNode> roots;
  for (const std::string& text : Texts) {
    const std::vector<Token> tokens = Lexer(text).Run();
    roots.push_back(Parser(tokens).Root());
  }
  ComponentTextReader(Instance).Read(roots);
}

void ReadComponentText(TStream& Stream, TComponent& Instance) {
  ReadComponentText(ReadStreamToEnd(Stream), Instance);
}

}  // namespace plat
