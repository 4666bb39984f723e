// The user-interface backend of the application object: how messages,
// error reports, beeps and questions reach the user.
//
// The application owns one backend; the default is the headless one below,
// which writes to stderr and records what it showed, so that tests and
// command-line tools can read it back. A widget-set backend (Qt) replaces it
// with real dialogs. Backend operations have do-nothing defaults, so a
// backend overrides only what it can show. All of them are called on the
// application's main thread.
#pragma once

#include "xelo/framework/Messages.h"

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace xelo {

// Windows has these numbers as macros of its own (the same values).
#if !XELO_COM_NATIVE
// Buttons and icons of MessageBox, as the Windows SDK numbers them.
inline constexpr UINT MB_OK = 0x0000;
inline constexpr UINT MB_OKCANCEL = 0x0001;
inline constexpr UINT MB_ABORTRETRYIGNORE = 0x0002;
inline constexpr UINT MB_YESNOCANCEL = 0x0003;
inline constexpr UINT MB_YESNO = 0x0004;
inline constexpr UINT MB_RETRYCANCEL = 0x0005;
inline constexpr UINT MB_TYPEMASK = 0x000F;
inline constexpr UINT MB_ICONERROR = 0x0010;
inline constexpr UINT MB_ICONQUESTION = 0x0020;
inline constexpr UINT MB_ICONWARNING = 0x0030;
inline constexpr UINT MB_ICONINFORMATION = 0x0040;
inline constexpr UINT MB_ICONMASK = 0x00F0;
inline constexpr UINT MB_DEFBUTTON1 = 0x0000;
inline constexpr UINT MB_DEFBUTTON2 = 0x0100;
inline constexpr UINT MB_DEFBUTTON3 = 0x0200;
inline constexpr UINT MB_DEFMASK = 0x0F00;

// Answers of MessageBox.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;
#endif

// The buttons `flags` asks for, in display order (MB_OK for unknown kinds).
std::vector<int> MessageBoxButtons(UINT flags);
// The answer of the default button of `flags` (MB_DEFBUTTONn; the first
// button when n is out of range): what a user gets by pressing Enter.
int MessageBoxDefaultAnswer(UINT flags);

class IUserInterface {
 public:
  virtual ~IUserInterface() = default;
  // Shows `text` to the user and returns when the user has seen it.
  virtual void ShowMessage(const std::string& text) { (void)text; }
  // Reports an error that no handler caught; `text` is the exception's
  // message.
  virtual void ShowException(const std::string& text) { (void)text; }
  virtual void Beep() {}
  // Asks the user; returns one of the ID* answers of the buttons in `flags`.
  virtual int MessageBox(const std::string& text, const std::string& caption, UINT flags) {
    (void)text;
    (void)caption;
    return MessageBoxDefaultAnswer(flags);
  }
};

// The backend without a screen: every call is written to stderr (unless
// echo is off) and recorded. Questions are answered from a queue of answers
// that tests fill, else with the default button. The record is guarded, so
// it may be read from any thread.
class THeadlessUserInterface final : public IUserInterface {
 public:
  enum class Kind { Message, Exception, Question };
  struct Record {
    Kind kind;
    std::string text;
    std::string caption;  // questions only
    UINT flags = 0;       // questions only
    int answer = 0;       // questions only
  };

  explicit THeadlessUserInterface(bool echo = true) : echo_(echo) {}

  void ShowMessage(const std::string& text) override;
  void ShowException(const std::string& text) override;
  void Beep() override;
  int MessageBox(const std::string& text, const std::string& caption, UINT flags) override;

  // The answer of the next question; answers are used in the order queued.
  void QueueAnswer(int answer);
  void SetEcho(bool echo);

  std::vector<Record> Records() const;
  // The texts of all records (messages, exceptions, questions) in order.
  std::vector<std::string> ShownTexts() const;
  int BeepCount() const;
  // Forgets the records, the beeps and the queued answers.
  void Clear();

 private:
  void Echo(const char* prefix, const std::string& text) const;

  mutable std::mutex mutex_;
  bool echo_;
  std::vector<Record> records_;
  std::deque<int> answers_;
  int beeps_ = 0;
};

}  // namespace xelo
