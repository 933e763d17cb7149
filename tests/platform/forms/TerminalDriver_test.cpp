// The terminal driver, run in a child process on a pseudo-terminal as a
// person would use it.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

#include "platform/forms/FormsDriver.h"

namespace plat {
namespace {

// A child process whose standard input and output are a new terminal.
class TerminalChild {
 public:
  explicit TerminalChild(const std::function<int()>& body) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    const std::string slaveName = ptsname(master_);
    pid_ = fork();
    if (pid_ == 0) {
      setsid();
      const int slave = open(slaveName.c_str(), O_RDWR);
      if (slave < 0) _exit(98);
      dup2(slave, 0);
      dup2(slave, 1);
      close(master_);
      int code = 97;
      try {
        code = body();
      } catch (...) {
        code = 99;
      }
      _exit(code);
    }
  }
  TerminalChild(const TerminalChild&) = delete;
  TerminalChild& operator=(const TerminalChild&) = delete;
  ~TerminalChild() {
    if (pid_ > 0 && !waited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }

  bool Started() const { return pid_ > 0; }

  // Reads the screen until it shows Text (true) or five seconds pass.
  bool WaitFor(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (screen_.find(text, seen_) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd fd{master_, POLLIN, 0};
      if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[512];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) return false;
      screen_.append(buffer, static_cast<size_t>(n));
    }
    seen_ = screen_.find(text, seen_) + text.size();
    return true;
  }

  void Type(const std::string& keys) { ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size())); }

  int ExitCode() {
    int status = 0;
    waitpid(pid_, &status, 0);
    waited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  const std::string& Screen() const { return screen_; }

 private:
  int master_ = -1;
  pid_t pid_ = -1;
  bool waited_ = false;
  std::string screen_;
  size_t seen_ = 0;
};

// Shows a form with a check box, an edit, OK and Cancel; the exit code is
// the modal result times ten, plus one when the box is checked, plus two
// when the edit holds "kit".
int RunForm() {
  Application()->SetDriver(std::make_unique<TTerminalDriver>(0, 1));
  TForm form(nullptr);
  form.SetName("Ask");
  form.SetCaption("Install the kit?");
  auto* label = new TLabel(&form);
  label->SetCaption("The kit goes to C:\\Kit.");
  auto* agree = new TCheckBox(&form);
  agree->SetCaption("Agree");
  auto* edit = new TEdit(&form);
  edit->SetName("Folder");
  auto* ok = new TButton(&form);
  ok->SetCaption("OK");
  ok->SetDefault(true);
  ok->SetModalResult(mrOk);
  auto* cancel = new TButton(&form);
  cancel->SetCaption("Cancel");
  cancel->SetCancel(true);
  cancel->SetModalResult(mrCancel);
  const TModalResult result = form.ShowModal();
  const int code = result * 10 + (agree->Checked() ? 1 : 0) + (edit->Text() == "kit" ? 2 : 0);
  FreeApplication();
  return code;
}

TEST(TerminalDriverTest, ShowsAFormAndTakesKeys) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> exchange;  // wait for, then type
    int code;
  };
  const std::vector<Case> cases = {
      {{{"Enter = OK, Esc = Cancel: ", "\r"}}, 10},
      {{{"Esc = Cancel: ", "\x1b"}}, 20},
      {{{"1) [ ] Agree", ""}, {"Esc = Cancel: ", "1"}, {"1) [x] Agree", ""}, {": ", "\r"}}, 11},
      {{{"Esc = Cancel: ", "2"}, {"Folder []: ", "kit\r"}, {"Folder: kit", ""}, {": ", "4"}}, 22},
  };
  for (const Case& c : cases) {
    TerminalChild child(RunForm);
    ASSERT_TRUE(child.Started());
    for (const auto& [expected, keys] : c.exchange) {
      ASSERT_TRUE(child.WaitFor(expected)) << "waiting for " << expected << " in\n" << child.Screen();
      if (!keys.empty()) child.Type(keys);
    }
    EXPECT_EQ(child.ExitCode(), c.code) << child.Screen();
    EXPECT_NE(child.Screen().find("== Install the kit? =="), std::string::npos);
    EXPECT_NE(child.Screen().find("The kit goes to C:\\Kit."), std::string::npos);
  }
}

TEST(TerminalDriverTest, AnswersAMessageBoxByKey) {
  TerminalChild child([] {
    Application()->SetDriver(std::make_unique<TTerminalDriver>(0, 1));
    const TModalResult result = MessageDlg("Replace the file?", mtConfirmation, mbYesNoCancel);
    FreeApplication();
    return static_cast<int>(result);
  });
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitFor("Replace the file?"));
  ASSERT_TRUE(child.WaitFor("Enter = Yes: "));
  child.Type("2");  // No
  EXPECT_EQ(child.ExitCode(), mrNo);
}

}  // namespace
}  // namespace plat
