// Driving windows from code: acting on a modal dialog while the code that
// opened it waits in its exec(). Tests, demonstrations and scripted
// sessions use it; so may an application's own UI tests.
//
// Main thread only.
#pragma once

#include <functional>

class QDialog;
class QWidget;

namespace xelo::qt {

// Runs `script` on the next modal dialog other than `current` once it is
// shown (looked for every 10 ms from Qt's loop). When none comes within
// `timeoutMs`, `timedOut` runs instead (if given), and a dialog other than
// `current` that is open by then is rejected, so nothing waits forever.
void WhenModalShows(std::function<void(QDialog&)> script, QWidget* current = nullptr, int timeoutMs = 10000,
                    std::function<void()> timedOut = {});

// Runs Qt's loop until `done` says true (checked every 10 ms) or
// `timeoutMs` passed; what `done` said last.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);

}  // namespace xelo::qt
