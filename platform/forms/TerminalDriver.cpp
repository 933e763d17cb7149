#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "platform/forms/FormsDriver.h"
#include "platform/forms/StdCtrls.h"

namespace plat {

namespace {

constexpr int kEscape = 27;

// Keys one at a time without echo while it lives; restores the terminal.
class RawMode {
 public:
  explicit RawMode(int fd) : fd_(fd) {
    if (tcgetattr(fd_, &saved_) != 0) return;
    termios raw = saved_;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    active_ = tcsetattr(fd_, TCSANOW, &raw) == 0;
  }
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;
  ~RawMode() {
    if (active_) tcsetattr(fd_, TCSANOW, &saved_);
  }

 private:
  int fd_;
  termios saved_{};
  bool active_ = false;
};

char KeyOf(size_t index) {
  return index < 9 ? static_cast<char>('1' + index) : static_cast<char>('a' + (index - 9));
}

std::string Describe(TControl* c) {
  const std::string caption = c->Caption();
  if (auto* box = dynamic_cast<TCheckBox*>(c)) {
    return std::string(box->Checked() ? "[x] " : "[ ] ") + caption;
  }
  if (auto* edit = dynamic_cast<TEdit*>(c)) return edit->Name() + ": " + edit->DisplayText();
  if (auto* list = dynamic_cast<TCustomListControl*>(c)) {
    const int32_t i = list->ItemIndex();
    return list->Name() + ": " + (i >= 0 ? list->Items().Strings(i) : std::string("(none)"));
  }
  if (auto* tree = dynamic_cast<TFolderTree*>(c)) return "Folder: " + tree->SelectedPath();
  return "<" + caption + ">";
}

}  // namespace

TTerminalDriver::TTerminalDriver(int In, int Out) : in_(In), out_(Out) {}

void TTerminalDriver::Write(const std::string& Text) {
  size_t done = 0;
  while (done < Text.size()) {
    const ssize_t n = ::write(out_, Text.data() + done, Text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw EInOutError("Cannot write to the terminal");
    done += static_cast<size_t>(n);
  }
}

int TTerminalDriver::ReadKey() {
  RawMode raw(in_);
  unsigned char key = 0;
  while (true) {
    const ssize_t n = ::read(in_, &key, 1);
    if (n == 1) return key;
    if (n < 0 && errno == EINTR) continue;
    throw EDriverError("End of input at the terminal");
  }
}

std::string TTerminalDriver::ReadLine(const std::string& Prompt, const std::string& Current) {
  Write(Prompt + " [" + Current + "]: ");
  std::string line;
  while (true) {
    const int key = ReadKey();
    if (key == '\r' || key == '\n') break;
    if (key == kEscape) {
      Write("\r\n");
      throw EAbort("Input cancelled");
    }
    if (key == 127 || key == 8) {
      if (!line.empty()) {
        line.pop_back();
        Write("\b \b");
      }
      continue;
    }
    line += static_cast<char>(key);
    Write(std::string(1, static_cast<char>(key)));
  }
  Write("\r\n");
  return line.empty() ? Current : line;
}

void TTerminalDriver::Draw(TCustomForm& Form) {
  shown_.clear();
  std::string screen = "\r\n== " + Form.Caption() + " ==\r\n";
  for (TControl* c : AllControls(Form)) {
    if (!c->Showing()) continue;
    if (dynamic_cast<TLabel*>(c) != nullptr) {
      if (!c->Caption().empty()) screen += "  " + c->Caption() + "\r\n";
      continue;
    }
    if (auto* memo = dynamic_cast<TMemo*>(c)) {
      for (int32_t i = 0; i < memo->Lines().Count(); ++i) screen += "  | " + memo->Lines().Strings(i) + "\r\n";
      continue;
    }
    if (auto* bar = dynamic_cast<TProgressBar*>(c)) {
      screen += "  " + std::to_string(bar->Percent()) + "%\r\n";
      continue;
    }
    const bool acts = dynamic_cast<TButton*>(c) != nullptr || dynamic_cast<TCheckBox*>(c) != nullptr ||
                      dynamic_cast<TEdit*>(c) != nullptr || dynamic_cast<TCustomListControl*>(c) != nullptr ||
                      dynamic_cast<TFolderTree*>(c) != nullptr;
    if (!acts || shown_.size() >= 35) continue;
    const bool enabled = c->EnabledChain();
    screen += std::string("  ") + (enabled ? KeyOf(shown_.size()) : '-') + ") " + Describe(c) + "\r\n";
    shown_.push_back(enabled ? c : nullptr);
  }
  std::string keys = "Key";
  if (TButton* def = Form.DefaultButton()) keys += ", Enter = " + def->Caption();
  if (TButton* cancel = Form.CancelButton()) keys += ", Esc = " + cancel->Caption();
  Write(screen + keys + ": ");
}

void TTerminalDriver::Step(TCustomForm& Form) {
  Draw(Form);
  const int key = ReadKey();
  Write("\r\n");
  TControl* target = nullptr;
  if (key == '\r' || key == '\n') {
    target = Form.DefaultButton();
  } else if (key == kEscape) {
    target = Form.CancelButton();
    if (target == nullptr) {
      Form.Close();
      return;
    }
  } else if (key == '\t') {
    Form.SelectNext(true);
    return;
  } else {
    for (size_t i = 0; i < shown_.size(); ++i) {
      if (KeyOf(i) == key) target = shown_[i];
    }
  }
  if (target == nullptr) return;  // a key that means nothing here
  try {
    if (auto* edit = dynamic_cast<TEdit*>(target)) {
      edit->SetText(ReadLine(edit->Name(), edit->Text()));
      uint16_t code = 0;
      if (edit->OnKeyUp) edit->OnKeyUp(edit, code);
    } else if (auto* list = dynamic_cast<TCustomListControl*>(target)) {
      std::string items;
      for (int32_t i = 0; i < list->Items().Count(); ++i) {
        items += "    " + std::to_string(i + 1) + ") " + list->Items().Strings(i) + "\r\n";
      }
      Write(items);
      const std::string line = ReadLine("Number", std::to_string(list->ItemIndex() + 1));
      list->SetItemIndex(std::atoi(line.c_str()) - 1);
    } else if (auto* tree = dynamic_cast<TFolderTree*>(target)) {
      tree->SetSelectedPath(ReadLine("Folder", tree->SelectedPath()));
    } else {
      target->Click();
    }
  } catch (const EAbort&) {
    // Escape while typing leaves the control as it was.
  }
}

TModalResult TTerminalDriver::MessageBox(const std::string& Text, TMsgDlgType Type,
                                         TMsgDlgButtons Buttons) {
  std::vector<TMsgDlgBtn> buttons;
  std::string screen = "\r\n[" + MsgDlgTypeName(Type) + "] " + Text + "\r\n";
  for (int b = mbYes; b <= mbYesToAll; ++b) {
    const auto button = static_cast<TMsgDlgBtn>(b);
    if (!Buttons.Contains(button)) continue;
    screen += std::string("  ") + KeyOf(buttons.size()) + ") " + ButtonCaption(button) + "\r\n";
    buttons.push_back(button);
  }
  const TMsgDlgBtn def = DefaultButtonOf(Buttons);
  Write(screen + "Key, Enter = " + ButtonCaption(def) + ": ");
  while (true) {
    const int key = ReadKey();
    std::optional<TMsgDlgBtn> chosen;
    if (key == '\r' || key == '\n') chosen = def;
    if (key == kEscape && Buttons.Contains(mbCancel)) chosen = mbCancel;
    for (size_t i = 0; i < buttons.size(); ++i) {
      if (KeyOf(i) == key) chosen = buttons[i];
    }
    if (!chosen) continue;
    Write("\r\n");
    Record("message " + MsgDlgTypeName(Type) + " " + QuoteText(Text) + " -> " + ButtonCaption(*chosen));
    return ButtonResult(*chosen);
  }
}

bool TTerminalDriver::InputQuery(const std::string& Caption, const std::string& Prompt,
                                 std::string& Value) {
  Write("\r\n" + Caption + "\r\n");
  try {
    Value = ReadLine(Prompt, Value);
  } catch (const EAbort&) {
    Record("input " + QuoteText(Prompt) + " -> cancel");
    return false;
  }
  Record("input " + QuoteText(Prompt) + " -> " + QuoteText(Value));
  return true;
}

void TTerminalDriver::Status(const std::string& Text) {
  TFormsDriver::Status(Text);
  Write(Text + "\r\n");
}

void TTerminalDriver::Progress(const TProgressBar& Bar) {
  const size_t before = Transcript().size();
  TFormsDriver::Progress(Bar);
  if (Transcript().size() != before) Write("  " + std::to_string(Bar.Percent()) + "%\r\n");
}

}  // namespace plat
