// Message boxes nobody sees: their answers come, one per box, from the
// comma-separated list in STUB_DIALOG_ANSWERS ("ok", "cancel", "retry", or
// for the folder picker a path).
#pragma once

#include <deque>
#include <mutex>
#include <string>

#include "platform/window.h"

namespace stubframework::platform::posix {

class DialogAnswers {
public:
    // Reads the list from the environment now.
    DialogAnswers();

    // The next answer in the list; "ok" once the list is used up.
    std::string Next();
    // The next answer as a message box's: anything but Cancel's or Retry's
    // word is Ok, or Cancel where Ok is not offered (Retry/Cancel), so a
    // test with too few answers ends instead of retrying forever.
    window::MessageAnswer NextFor(window::MessageButtons buttons);

    // The answerer for boxes without any window: it reads the list again
    // when the variable has changed.
    static DialogAnswers& Windowless();

private:
    std::mutex mutex_;
    std::string source_;
    std::deque<std::string> answers_;
};

}  // namespace stubframework::platform::posix
