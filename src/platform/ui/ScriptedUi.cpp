#include "ScriptedUi.h"

#include "platform/clock/Clock.h"

namespace platform {

namespace {
MsgAnswer firstButton(MsgButtons b) {
    switch (b) {
    case MsgButtons::Ok:
    case MsgButtons::OkCancel:
        return MsgAnswer::Ok;
    case MsgButtons::YesNo:
    case MsgButtons::YesNoCancel:
        return MsgAnswer::Yes;
    }
    return MsgAnswer::Ok;
}
} // namespace

MsgAnswer ScriptedUi::message(const QString& title, const QString& text, MsgIcon icon,
                              MsgButtons buttons) {
    RecordedMessage m{title, text, icon, buttons, firstButton(buttons), -1};
    if (clock_) m.atMs = clock_->now().time().msecsSinceStartOfDay();
    // A plain OK box has nothing to decide and takes no queued answer.
    if (buttons != MsgButtons::Ok) {
        if (answers_.empty()) {
            ++unanswered_;
        } else {
            m.answer = answers_.front();
            answers_.pop_front();
        }
    }
    messages_.append(m);
    return m.answer;
}

void ScriptedUi::setBusyCursor(bool busy) {
    busy_ = busy;
    cursorChanges_.append(busy);
}

void ScriptedUi::processEvents() {
    ++processCalls_;
    if (onProcessEvents) onProcessEvents();
}

} // namespace platform
