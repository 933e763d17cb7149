#include "platform/forms/FormsDriver.h"

#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "platform/forms/StdCtrls.h"
#include "platform/rtl/Strings.h"

namespace plat {

namespace {

std::string Unaccelerated(const std::string& caption) {
  std::string plain;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&') {
      if (i + 1 < caption.size() && caption[i + 1] == '&') plain += caption[++i];
      continue;
    }
    plain += caption[i];
  }
  return plain;
}

// Words and quoted strings of a script line; a quoted string keeps a leading
// "'" as its mark. Returns false for an unterminated string.
bool SplitLine(const std::string& line, std::vector<std::string>& words, std::vector<bool>& quoted) {
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
      continue;
    }
    if (c == '\'' || c == '#') {
      std::string value;
      while (i < line.size() && (line[i] == '\'' || line[i] == '#')) {
        if (line[i] == '#') {
          size_t j = i + 1;
          int code = 0;
          while (j < line.size() && line[j] >= '0' && line[j] <= '9' && code < 256) {
            code = code * 10 + (line[j++] - '0');
          }
          if (j == i + 1 || code > 255) return false;
          value += static_cast<char>(code);
          i = j;
          continue;
        }
        ++i;
        while (true) {
          if (i >= line.size()) return false;
          if (line[i] == '\'') {
            if (i + 1 < line.size() && line[i + 1] == '\'') {
              value += '\'';
              i += 2;
              continue;
            }
            ++i;
            break;
          }
          value += line[i++];
        }
      }
      words.push_back(value);
      quoted.push_back(true);
      continue;
    }
    const size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\'' && line[i] != '\r') ++i;
    words.push_back(line.substr(start, i - start));
    quoted.push_back(false);
  }
  return true;
}

}  // namespace

std::string QuoteText(const std::string& Text) {
  std::string out;
  bool open = false;
  for (char c : Text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < ' ') {
      if (open) out += '\'';
      open = false;
      out += "#" + std::to_string(byte);
      continue;
    }
    if (!open) out += '\'';
    open = true;
    out += c;
    if (c == '\'') out += '\'';
  }
  if (open) out += '\'';
  return out.empty() ? "''" : out;
}

// ---------------------------------------------------------------- TFormsDriver

TFormsDriver::TFormsDriver() = default;
TFormsDriver::~TFormsDriver() = default;

void TFormsDriver::SetTranscriptFile(const std::string& FileName) {
  auto file = std::make_unique<std::ofstream>(FileName, std::ios::out | std::ios::trunc | std::ios::binary);
  if (!*file) throw EFCreateError("Cannot create transcript " + FileName);
  for (const std::string& line : transcript_) *file << line << '\n';
  file->flush();
  file_ = std::move(file);
}

void TFormsDriver::Record(const std::string& Line) {
  transcript_.push_back(Line);
  if (file_) {
    *file_ << Line << '\n';
    file_->flush();
  }
}

void TFormsDriver::FormShown(TCustomForm& Form) {
  Record("page " + Form.Name() + " " + QuoteText(Form.Caption()));
}

void TFormsDriver::FormClosed(TCustomForm& Form, TModalResult Result) {
  Record("close " + Form.Name() + " " + ModalResultName(Result));
}

void TFormsDriver::Status(const std::string& Text) {
  ++statusCount_;
  Record("status " + QuoteText(Text));
}

void TFormsDriver::Progress(const TProgressBar& Bar) {
  const int32_t percent = Bar.Percent();
  for (auto& item : percents_) {
    if (item.first == Bar.Name()) {
      if (item.second == percent) return;
      item.second = percent;
      Record("progress " + Bar.Name() + " " + std::to_string(percent) + "%");
      return;
    }
  }
  percents_.emplace_back(Bar.Name(), percent);
  Record("progress " + Bar.Name() + " " + std::to_string(percent) + "%");
}

// ---------------------------------------------------------------- TScriptedDriver

TScriptedDriver::TScriptedDriver(const std::string& Script) {
  std::istringstream in(Script);
  std::string line;
  int32_t number = 0;
  while (std::getline(in, line)) {
    ++number;
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == '#') continue;
    std::vector<std::string> words;
    std::vector<bool> quoted;
    if (!SplitLine(trimmed, words, quoted)) {
      throw EScriptError("Script line " + std::to_string(number) + ": unterminated text");
    }
    TStep step;
    step.Line = number;
    step.Source = trimmed;
    size_t first = 0;
    if (SameText(words[0], "after")) {
      // after status <n>: <step>
      std::string count = words.size() > 2 ? words[2] : std::string();
      if (!count.empty() && count.back() == ':') count.pop_back();
      char* end = nullptr;
      const long n = std::strtol(count.c_str(), &end, 10);
      if (words.size() < 4 || !SameText(words[1], "status") || count.empty() || *end != 0 || n < 0) {
        throw EScriptError("Script line " + std::to_string(number) +
                           ": 'after status <n>: <step>' expected");
      }
      step.AfterStatus = static_cast<int32_t>(n);
      first = 3;
    }
    step.Verb = LowerCase(words[first]);
    step.Args.assign(words.begin() + static_cast<std::ptrdiff_t>(first) + 1, words.end());
    static const char* const kVerbs[] = {"expect", "type",   "click", "check", "uncheck",
                                         "choose", "answer", "input", "folder"};
    bool known = false;
    for (const char* verb : kVerbs) known = known || step.Verb == verb;
    if (!known || quoted[first]) {
      throw EScriptError("Script line " + std::to_string(number) + ": unknown step " + words[first]);
    }
    steps_.push_back(std::move(step));
  }
}

std::unique_ptr<TScriptedDriver> TScriptedDriver::FromFile(const std::string& FileName) {
  std::ifstream in(FileName, std::ios::binary);
  if (!in) throw EFOpenError("Cannot open script " + FileName);
  std::ostringstream text;
  text << in.rdbuf();
  return std::make_unique<TScriptedDriver>(text.str());
}

int32_t TScriptedDriver::Remaining() const {
  return static_cast<int32_t>(steps_.size() - next_ + deferred_.size());
}

void TScriptedDriver::Fail(const TStep& Step, const std::string& Message) const {
  throw EScriptError("Script line " + std::to_string(Step.Line) + " (" + Step.Source + "): " + Message);
}

TScriptedDriver::TStep* TScriptedDriver::NextStep() {
  while (next_ < steps_.size()) {
    TStep& step = steps_[next_++];
    if (step.AfterStatus < 0) return &step;
    // Armed now: counts status texts from here on.
    TStep armed = step;
    armed.AfterStatus += StatusCount();
    deferred_.push_back(std::move(armed));
  }
  return nullptr;
}

void TScriptedDriver::Step(TCustomForm& Form) {
  TStep* step = NextStep();
  if (step == nullptr) {
    throw EScriptError("Script ended while form " + Form.Name() + " " + QuoteText(Form.Caption()) +
                       " waits");
  }
  if (step->Verb == "answer" || step->Verb == "input") {
    Fail(*step, "no " + std::string(step->Verb == "answer" ? "message box" : "input query") +
                    " is shown; form " + Form.Name() + " is");
  }
  Record("> " + step->Source);
  Run(*step, Form);
}

void TScriptedDriver::Run(const TStep& Step, TCustomForm& Form) {
  // Unquoted words run together: "click Next >" names the caption "Next >".
  // Steps that take a text take it last.
  const auto& words = Step.Args;
  auto joined = [&](size_t from, size_t to) {
    std::string name;
    for (size_t i = from; i < to && i < words.size(); ++i) name += (name.empty() ? "" : " ") + words[i];
    return name;
  };
  std::vector<std::string> args;
  const std::string& verb = Step.Verb;
  const bool textLast = verb == "type" || verb == "choose" ||
                        (verb == "expect" && words.size() >= 2 && !SameText(words[0], "caption") &&
                         !SameText(words[0], "checked") && !SameText(words[0], "unchecked") &&
                         !SameText(words[0], "enabled") && !SameText(words[0], "disabled"));
  if (verb == "expect" && !textLast && words.size() >= 2) {
    args = {words[0], joined(1, words.size())};
  } else if (textLast && words.size() >= 2) {
    args = {joined(0, words.size() - 1), words.back()};
  } else if (!words.empty() && verb != "folder") {
    args = {joined(0, words.size())};
  } else {
    args = words;
  }
  auto need = [&](size_t count) {
    if (args.size() != count) Fail(Step, "expects " + std::to_string(count) + " argument(s)");
  };
  auto control = [&](const std::string& name) -> TControl* {
    TControl* found = Form.FindControl(name);
    if (found == nullptr) {
      for (TControl* c : AllControls(Form)) {
        if (c->Showing() && SameText(Unaccelerated(c->Caption()), name)) {
          found = c;
          break;
        }
      }
    }
    if (found == nullptr) Fail(Step, "no control " + name + " on form " + Form.Name());
    return found;
  };
  auto usable = [&](const std::string& name) -> TControl* {
    TControl* c = control(name);
    if (!c->Showing()) Fail(Step, "control " + c->Name() + " is not visible");
    if (!c->EnabledChain()) Fail(Step, "control " + c->Name() + " is disabled");
    if (auto* win = dynamic_cast<TWinControl*>(c); win != nullptr && win->TabStop()) {
      Form.SetActiveControl(win);
    }
    return c;
  };
  if (verb == "expect") {
    if (args.size() == 2 && SameText(args[0], "caption")) {
      if (Form.Caption() != args[1]) {
        Fail(Step, "caption is " + QuoteText(Form.Caption()) + " on form " + Form.Name());
      }
      return;
    }
    need(2);
    const std::string state = LowerCase(args[0]);
    if (state == "checked" || state == "unchecked") {
      auto* box = dynamic_cast<TCheckBox*>(control(args[1]));
      if (box == nullptr) Fail(Step, args[1] + " is not a check box");
      if (box->Checked() != (state == "checked")) Fail(Step, "it is not " + state);
      return;
    }
    if (state == "enabled" || state == "disabled") {
      if (control(args[1])->EnabledChain() != (state == "enabled")) Fail(Step, "it is not " + state);
      return;
    }
    const TControl* c = control(args[0]);
    if (c->Caption() != args[1]) Fail(Step, c->Name() + " holds " + QuoteText(c->Caption()));
    return;
  }
  if (verb == "type") {
    need(2);
    TControl* c = usable(args[0]);
    if (auto* edit = dynamic_cast<TEdit*>(c)) {
      if (edit->ReadOnly()) Fail(Step, edit->Name() + " is read-only");
      edit->SetText(args[1]);
      uint16_t key = 0;
      if (edit->OnKeyUp) edit->OnKeyUp(edit, key);
    } else if (dynamic_cast<TMemo*>(c) != nullptr || dynamic_cast<TComboBox*>(c) != nullptr) {
      c->SetText(args[1]);
    } else {
      Fail(Step, c->Name() + " takes no typing");
    }
    return;
  }
  if (verb == "click") {
    need(1);
    usable(args[0])->Click();
    return;
  }
  if (verb == "check" || verb == "uncheck") {
    need(1);
    auto* box = dynamic_cast<TCheckBox*>(usable(args[0]));
    if (box == nullptr) Fail(Step, args[0] + " is not a check box");
    if (box->Checked() != (verb == "check")) box->Click();
    return;
  }
  if (verb == "choose") {
    need(2);
    TControl* c = usable(args[0]);
    if (auto* tree = dynamic_cast<TFolderTree*>(c)) {
      tree->SetSelectedPath(args[1]);
      return;
    }
    if (auto* pages = dynamic_cast<TPageControl*>(c)) {
      for (int32_t i = 0; i < pages->PageCount(); ++i) {
        if (SameText(Unaccelerated(pages->Pages(i)->Caption()), args[1])) {
          pages->SetActivePageIndex(i);
          return;
        }
      }
      Fail(Step, "no page " + QuoteText(args[1]));
    }
    auto* list = dynamic_cast<TCustomListControl*>(c);
    if (list == nullptr) Fail(Step, c->Name() + " has no items");
    const int32_t index = list->Items().IndexOf(args[1]);
    if (index < 0) Fail(Step, "no item " + QuoteText(args[1]) + " in " + c->Name());
    list->SetItemIndex(index);
    return;
  }
  if (verb == "folder") {
    need(1);
    TFolderTree* tree = nullptr;
    TEdit* edit = nullptr;
    for (TControl* c : AllControls(Form)) {
      if (tree == nullptr) tree = dynamic_cast<TFolderTree*>(c);
      if (edit == nullptr && c->Showing()) edit = dynamic_cast<TEdit*>(c);
    }
    if (tree == nullptr) Fail(Step, "no folder dialog is shown; form " + Form.Name() + " is");
    TButton* button = nullptr;
    if (SameText(args[0], "cancel") && !Step.Source.ends_with("'")) {
      button = Form.CancelButton();
    } else {
      // As a person would: type the path, which chooses it in the tree when
      // it exists, then press OK.
      if (edit != nullptr) {
        edit->SetText(args[0]);
        uint16_t key = 0;
        if (edit->OnKeyUp) edit->OnKeyUp(edit, key);
      } else {
        tree->SetSelectedPath(args[0]);
      }
      button = Form.DefaultButton();
    }
    if (button == nullptr) Fail(Step, "the folder dialog has no button to press");
    button->Click();
    return;
  }
  Fail(Step, "not a step for a form");
}

TModalResult TScriptedDriver::MessageBox(const std::string& Text, TMsgDlgType Type,
                                         TMsgDlgButtons Buttons) {
  TStep* step = NextStep();
  const std::string shown = "message " + MsgDlgTypeName(Type) + " " + QuoteText(Text);
  if (step == nullptr) throw EScriptError("Script ended at " + shown);
  if (step->Verb != "answer" || step->Args.size() != 1) {
    Fail(*step, "a message box is shown: " + QuoteText(Text));
  }
  for (int b = mbYes; b <= mbHelp; ++b) {
    const auto button = static_cast<TMsgDlgBtn>(b);
    if (Buttons.Contains(button) && SameText(ButtonCaption(button), step->Args[0])) {
      Record(shown + " -> " + ButtonCaption(button));
      return ButtonResult(button);
    }
  }
  Fail(*step, "the message box has no button " + step->Args[0]);
}

bool TScriptedDriver::InputQuery(const std::string&, const std::string& Prompt, std::string& Value) {
  TStep* step = NextStep();
  const std::string shown = "input " + QuoteText(Prompt);
  if (step == nullptr) throw EScriptError("Script ended at " + shown);
  if (step->Verb != "input" || step->Args.size() != 1) {
    Fail(*step, "an input query is shown: " + QuoteText(Prompt));
  }
  if (SameText(step->Args[0], "cancel") && !step->Source.ends_with("'")) {
    Record(shown + " -> cancel");
    return false;
  }
  Value = step->Args[0];
  Record(shown + " -> " + QuoteText(Value));
  return true;
}

void TScriptedDriver::Status(const std::string& Text) {
  TFormsDriver::Status(Text);
}

void TScriptedDriver::ProcessMessages() {
  for (size_t i = 0; i < deferred_.size();) {
    if (deferred_[i].AfterStatus > StatusCount()) {
      ++i;
      continue;
    }
    const TStep step = deferred_[i];
    deferred_.erase(deferred_.begin() + static_cast<std::ptrdiff_t>(i));
    TCustomForm* form = Application()->ActiveForm();
    if (form == nullptr) Fail(step, "no form is shown");
    Record("> " + step.Source);
    Run(step, *form);
  }
}

// ---------------------------------------------------------------- TAutomaticDriver

void TAutomaticDriver::Step(TCustomForm& Form) {
  TButton* forward = Form.DefaultButton();
  if (forward == nullptr) {
    for (TControl* c : AllControls(Form)) {
      auto* button = dynamic_cast<TButton*>(c);
      if (button != nullptr && button->Showing() && button->EnabledChain() &&
          (button->ModalResult() == mrOk || button->ModalResult() == mrYes)) {
        forward = button;
        break;
      }
    }
  }
  if (forward == nullptr) {
    throw EDriverError("Form " + Form.Name() + " " + QuoteText(Form.Caption()) +
                       " has no forward button to press");
  }
  forward->Click();
}

TModalResult TAutomaticDriver::MessageBox(const std::string& Text, TMsgDlgType Type,
                                          TMsgDlgButtons Buttons) {
  const TMsgDlgBtn button = DefaultButtonOf(Buttons);
  Record("message " + MsgDlgTypeName(Type) + " " + QuoteText(Text) + " -> " + ButtonCaption(button));
  return ButtonResult(button);
}

bool TAutomaticDriver::InputQuery(const std::string&, const std::string& Prompt, std::string& Value) {
  Record("input " + QuoteText(Prompt) + " -> " + QuoteText(Value));
  return true;
}

// ---------------------------------------------------------------- choice

std::unique_ptr<TFormsDriver> CreateDriverFromEnvironment() {
  const char* choice = std::getenv("ZEL_UI");
  const std::string value = choice == nullptr ? std::string() : std::string(choice);
  std::unique_ptr<TFormsDriver> driver;
  if (value.rfind("script:", 0) == 0) {
    driver = TScriptedDriver::FromFile(value.substr(7));
  } else if (value == "auto") {
    driver = std::make_unique<TAutomaticDriver>();
  } else if (value == "terminal") {
    driver = std::make_unique<TTerminalDriver>();
  } else if (value.empty()) {
    if (isatty(0) != 0) {
      driver = std::make_unique<TTerminalDriver>();
    } else {
      driver = std::make_unique<TAutomaticDriver>();
    }
  } else {
    throw EInvalidOperation("ZEL_UI must be script:<file>, auto or terminal, not " + value);
  }
  if (const char* transcript = std::getenv("ZEL_UI_TRANSCRIPT"); transcript != nullptr && *transcript) {
    driver->SetTranscriptFile(transcript);
  }
  return driver;
}

}  // namespace plat
