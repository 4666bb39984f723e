#include "xelo/qt/UserInterface.h"

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QMessageBox>

#include <vector>

namespace xelo::qt {

namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

QMessageBox::StandardButton ButtonOf(int answer) {
  switch (answer) {
    case IDOK: return QMessageBox::Ok;
    case IDCANCEL: return QMessageBox::Cancel;
    case IDABORT: return QMessageBox::Abort;
    case IDRETRY: return QMessageBox::Retry;
    case IDIGNORE: return QMessageBox::Ignore;
    case IDYES: return QMessageBox::Yes;
    case IDNO: return QMessageBox::No;
    default: return QMessageBox::NoButton;
  }
}

QMessageBox::Icon IconOf(UINT flags) {
  switch (flags & MB_ICONMASK) {
    case MB_ICONERROR: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONWARNING: return QMessageBox::Warning;
    case MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

QString Caption() { return QApplication::applicationDisplayName(); }

}  // namespace

void TQtUserInterface::ShowMessage(const std::string& text) {
  QMessageBox::information(QApplication::activeWindow(), Caption(), Text(text));
}

void TQtUserInterface::ShowException(const std::string& text) {
  QMessageBox::critical(QApplication::activeWindow(), Caption(), Text(text));
}

void TQtUserInterface::Beep() { QApplication::beep(); }

int TQtUserInterface::MessageBox(const std::string& text, const std::string& caption, UINT flags) {
  QMessageBox box(IconOf(flags), Text(caption), Text(text), QMessageBox::NoButton, QApplication::activeWindow());
  const std::vector<int> answers = MessageBoxButtons(flags);
  for (int answer : answers) box.addButton(ButtonOf(answer));
  box.setDefaultButton(ButtonOf(MessageBoxDefaultAnswer(flags)));
  const int clicked = box.exec();
  for (int answer : answers) {
    if (clicked == ButtonOf(answer)) return answer;
  }
  return MessageBoxDefaultAnswer(flags);
}

int ShowModal(QDialog& dialog) { return dialog.exec() == QDialog::Accepted ? mrOk : mrCancel; }

TWaitCursor::TWaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }

TWaitCursor::~TWaitCursor() { QGuiApplication::restoreOverrideCursor(); }

}  // namespace xelo::qt
