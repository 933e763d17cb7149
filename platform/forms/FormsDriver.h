#pragma once
// Drivers: what stands in for the person in front of the screen.
//
// The application asks its driver to show forms, to take one user action at a
// time while a form is modal, to answer message boxes and input queries, and
// tells it of status texts and progress. Each driver keeps a transcript, one
// line per event:
//
//   page <FormName> '<Caption>'          a form is shown
//   close <FormName> <mrResult>          it closed with that result
//   message <type> '<text>' -> <button>  a message box and its answer
//   input '<prompt>' -> '<value>'|cancel an input query
//   status '<text>'                      a status text
//   progress <BarName> <percent>%        a progress bar moved to a new percent
//   > <script step>                      a scripted step that was taken
//
// Texts are quoted with "'" doubled inside and control characters as #nn.
//
// Which driver the program uses is chosen by the environment variable
// ZEL_UI: "script:<file>" runs the script in that file, "auto" presses the
// forward buttons, "terminal" asks a person at the terminal. Without it a
// terminal on standard input gets the terminal driver, anything else the
// automatic one. ZEL_UI_TRANSCRIPT names a file the transcript is written to,
// a line at a time, as well.
//
// Script steps (one a line; blank lines and lines starting with "#" are
// skipped; a control is named by its Name or by its caption without "&"):
//
//   expect caption '<text>'      the active form's caption is the text
//   expect <control> '<text>'    the control's caption or text is the text
//   expect checked|unchecked <control>
//   expect enabled|disabled <control>
//   type <control> '<text>'      sets an edit's text as typed
//   click <control>              clicks a button (or any control)
//   check|uncheck <control>      sets a check box or radio button
//   choose <control> '<item>'    chooses a list, combo, radio group or tab item
//   answer <button>              answers the message box now shown
//   input '<text>' | input cancel  answers the input query now shown
//   folder '<path>' | folder cancel  in a folder dialog: types the path into
//                                its path edit (or chooses it in the tree
//                                when there is no edit) and presses OK, or
//                                presses Cancel
//   after status <n>: <step>     runs the step inside ProcessMessages once
//                                n status texts have been reported
//
// A step that does not fit what is shown, or running out of steps while a
// form waits, raises EScriptError naming the script line.
//
// What the later parts of the setup program use: Application()->Driver()
// .Status(text) for status texts, TProgressBar for progress (reported by
// itself), MessageDlg and InputQuery (Dialogs.h) for questions, and
// Application()->ProcessMessages() between steps of long work, where a
// scripted "after status" step can press Cancel.

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/forms/Dialogs.h"
#include "platform/forms/Forms.h"
#include "platform/rtl/Exceptions.h"

namespace plat {

// A driver that cannot go on (a script that does not fit, no forward button,
// the end of terminal input). The application's loop passes it on instead
// of reporting it and asking the driver again.
PLAT_DECLARE_EXCEPTION(EDriverError, Exception);
PLAT_DECLARE_EXCEPTION(EScriptError, EDriverError);

class TProgressBar;

class TFormsDriver {
 public:
  TFormsDriver();
  virtual ~TFormsDriver();
  TFormsDriver(const TFormsDriver&) = delete;
  TFormsDriver& operator=(const TFormsDriver&) = delete;

  virtual std::string Name() const = 0;

  // A form is shown (modally or as the main form) and hidden again.
  virtual void FormShown(TCustomForm& Form);
  virtual void FormClosed(TCustomForm& Form, TModalResult Result);
  // One user action on Form, the innermost form waiting. It must make
  // progress: an action, or an exception when none can be taken.
  virtual void Step(TCustomForm& Form) = 0;
  virtual TModalResult MessageBox(const std::string& Text, TMsgDlgType Type,
                                  TMsgDlgButtons Buttons) = 0;
  virtual bool InputQuery(const std::string& Caption, const std::string& Prompt,
                          std::string& Value) = 0;
  virtual void ProcessMessages() {}
  virtual void Status(const std::string& Text);
  virtual void Progress(const TProgressBar& Bar);

  const std::vector<std::string>& Transcript() const { return transcript_; }
  // Also writes every transcript line to that file.
  void SetTranscriptFile(const std::string& FileName);

 protected:
  void Record(const std::string& Line);
  // How many status texts have been reported.
  int32_t StatusCount() const { return statusCount_; }

 private:
  std::vector<std::string> transcript_;
  std::unique_ptr<std::ofstream> file_;
  int32_t statusCount_ = 0;
  // The last percent recorded per progress bar name.
  std::vector<std::pair<std::string, int32_t>> percents_;
};

// Runs a script (see the top of this file).
class TScriptedDriver : public TFormsDriver {
 public:
  explicit TScriptedDriver(const std::string& Script);
  static std::unique_ptr<TScriptedDriver> FromFile(const std::string& FileName);
  std::string Name() const override { return "script"; }

  void Step(TCustomForm& Form) override;
  TModalResult MessageBox(const std::string& Text, TMsgDlgType Type,
                          TMsgDlgButtons Buttons) override;
  bool InputQuery(const std::string& Caption, const std::string& Prompt,
                  std::string& Value) override;
  void ProcessMessages() override;
  void Status(const std::string& Text) override;

  // Steps not yet taken (deferred ones included).
  int32_t Remaining() const;

  struct TStep {
    int32_t Line = 0;
    std::string Verb;
    std::vector<std::string> Args;  // words and unquoted strings
    int32_t AfterStatus = -1;        // for "after status n:" steps
    std::string Source;
  };

 private:
  void Run(const TStep& Step, TCustomForm& Form);
  TStep* NextStep();
  [[noreturn]] void Fail(const TStep& Step, const std::string& Message) const;

  std::vector<TStep> steps_;
  size_t next_ = 0;
  std::vector<TStep> deferred_;
};

// Presses the forward button of every form (its Default button, else the
// first enabled button whose result is OK or Yes), takes each message box's
// default button and every input query's proposed value. A form without a
// forward button raises EDriverError.
class TAutomaticDriver : public TFormsDriver {
 public:
  std::string Name() const override { return "auto"; }
  void Step(TCustomForm& Form) override;
  TModalResult MessageBox(const std::string& Text, TMsgDlgType Type,
                          TMsgDlgButtons Buttons) override;
  bool InputQuery(const std::string& Caption, const std::string& Prompt,
                  std::string& Value) override;
};

// Shows forms as text on a terminal and reads keys from it: a number picks a
// control (a button is clicked, a check box toggled, an edit or list asks
// for a line), Enter presses the Default button, Escape the Cancel button.
class TTerminalDriver : public TFormsDriver {
 public:
  // Reads from In and writes to Out (file descriptors).
  TTerminalDriver(int In = 0, int Out = 1);
  std::string Name() const override { return "terminal"; }

  void Step(TCustomForm& Form) override;
  TModalResult MessageBox(const std::string& Text, TMsgDlgType Type,
                          TMsgDlgButtons Buttons) override;
  bool InputQuery(const std::string& Caption, const std::string& Prompt,
                  std::string& Value) override;
  void Status(const std::string& Text) override;
  void Progress(const TProgressBar& Bar) override;

 private:
  void Draw(TCustomForm& Form);
  void Write(const std::string& Text);
  // One key: a byte, or 27 for Escape; raises EDriverError at end of input.
  int ReadKey();
  std::string ReadLine(const std::string& Prompt, const std::string& Current);

  int in_;
  int out_;
  std::vector<TControl*> shown_;
};

// The driver ZEL_UI chooses (see the top of this file).
std::unique_ptr<TFormsDriver> CreateDriverFromEnvironment();

// A text quoted as in transcripts and scripts.
std::string QuoteText(const std::string& Text);

}  // namespace plat
