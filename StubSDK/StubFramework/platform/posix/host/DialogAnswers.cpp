#include "platform/posix/host/DialogAnswers.h"

#include <sstream>

#include "platform/process.h"

namespace stubframework::platform::posix {
namespace {

constexpr const char* kVariable = "STUB_DIALOG_ANSWERS";

std::deque<std::string> SplitAnswers(const std::string& text) {
    std::deque<std::string> answers;
    std::stringstream stream(text);
    std::string answer;
    while (std::getline(stream, answer, ',')) {
        answers.push_back(answer);
    }
    return answers;
}

}  // namespace

DialogAnswers::DialogAnswers()
    : source_(process::EnvironmentVariable(kVariable)), answers_(SplitAnswers(source_)) {}

std::string DialogAnswers::Next() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (answers_.empty()) {
        return "ok";
    }
    std::string answer = answers_.front();
    answers_.pop_front();
    return answer;
}

window::MessageAnswer DialogAnswers::NextFor(window::MessageButtons buttons) {
    using window::MessageAnswer;
    using window::MessageButtons;
    const std::string answer = Next();
    switch (buttons) {
        case MessageButtons::Ok:
            return MessageAnswer::Ok;
        case MessageButtons::OkCancel:
            return answer == "cancel" ? MessageAnswer::Cancel : MessageAnswer::Ok;
        case MessageButtons::RetryCancel:
            return answer == "retry" ? MessageAnswer::Retry : MessageAnswer::Cancel;
    }
    return MessageAnswer::Cancel;
}

DialogAnswers& DialogAnswers::Windowless() {
    static DialogAnswers answers;
    const std::string source = process::EnvironmentVariable(kVariable);
    const std::lock_guard<std::mutex> lock(answers.mutex_);
    if (source != answers.source_) {
        answers.source_ = source;
        answers.answers_ = SplitAnswers(source);
    }
    return answers;
}

}  // namespace stubframework::platform::posix
