#include "xelo/framework/UserInterface.h"

#include <cstdio>

namespace xelo {

std::vector<int> MessageBoxButtons(UINT flags) {
  switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL:
      return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE:
      return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL:
      return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
      return {IDYES, IDNO};
    case MB_RETRYCANCEL:
      return {IDRETRY, IDCANCEL};
    default:
      return {IDOK};
  }
}

int MessageBoxDefaultAnswer(UINT flags) {
  const std::vector<int> buttons = MessageBoxButtons(flags);
  const std::size_t index = (flags & MB_DEFMASK) >> 8;
  return index < buttons.size() ? buttons[index] : buttons.front();
}

void THeadlessUserInterface::Echo(const char* prefix, const std::string& text) const {
  // stdio rather than iostreams: one call per line keeps lines whole when
  // other threads write too.
  if (echo_) std::fprintf(stderr, "%s%s\n", prefix, text.c_str());
}

void THeadlessUserInterface::ShowMessage(const std::string& text) {
  std::lock_guard lock(mutex_);
  Echo("", text);
  records_.push_back(Record{Kind::Message, text, {}, 0, 0});
}

void THeadlessUserInterface::ShowException(const std::string& text) {
  std::lock_guard lock(mutex_);
  Echo("Error: ", text);
  records_.push_back(Record{Kind::Exception, text, {}, 0, 0});
}

void THeadlessUserInterface::Beep() {
  std::lock_guard lock(mutex_);
  Echo("", "(beep)");
  ++beeps_;
}

int THeadlessUserInterface::MessageBox(const std::string& text, const std::string& caption, UINT flags) {
  std::lock_guard lock(mutex_);
  int answer = MessageBoxDefaultAnswer(flags);
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  }
  Echo(caption.empty() ? "" : (caption + ": ").c_str(), text);
  records_.push_back(Record{Kind::Question, text, caption, flags, answer});
  return answer;
}

void THeadlessUserInterface::QueueAnswer(int answer) {
  std::lock_guard lock(mutex_);
  answers_.push_back(answer);
}

void THeadlessUserInterface::SetEcho(bool echo) {
  std::lock_guard lock(mutex_);
  echo_ = echo;
}

std::vector<THeadlessUserInterface::Record> THeadlessUserInterface::Records() const {
  std::lock_guard lock(mutex_);
  return records_;
}

std::vector<std::string> THeadlessUserInterface::ShownTexts() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> texts;
  texts.reserve(records_.size());
  for (const Record& record : records_) texts.push_back(record.text);
  return texts;
}

int THeadlessUserInterface::BeepCount() const {
  std::lock_guard lock(mutex_);
  return beeps_;
}

void THeadlessUserInterface::Clear() {
  std::lock_guard lock(mutex_);
  records_.clear();
  answers_.clear();
  beeps_ = 0;
}

}  // namespace xelo
