#pragma once

#include "Ui.h"

#include <QList>
#include <deque>
#include <functional>

namespace platform {

class Clock;

struct RecordedMessage {
    QString title;
    QString text;
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
    MsgAnswer answer = MsgAnswer::Ok;
    qint64 atMs = -1; // milliseconds since midnight of the clock, -1 without one

    // The answer and the time are compared too: a test states all of it.
    bool operator==(const RecordedMessage&) const = default;
};

// Answers message boxes from a queue and records every one of them, so a
// test that compares messages() sees every unexpected message. Boxes with
// a choice take the next queued answer; without one they get their first
// button and count in unanswered(). Plain OK boxes take no answer.
class ScriptedUi : public Ui {
public:
    explicit ScriptedUi(const Clock* clock = nullptr) : clock_(clock) {}

    void queueAnswer(MsgAnswer answer) { answers_.push_back(answer); }
    const QList<RecordedMessage>& messages() const { return messages_; }
    int unanswered() const { return unanswered_; }
    int pendingAnswers() const { return int(answers_.size()); }
    void clearMessages() { messages_.clear(); }
    // Every change of the pointer, in order (true = hourglass).
    const QList<bool>& cursorChanges() const { return cursorChanges_; }
    int processEventsCalls() const { return processCalls_; }
    // Runs on every processEvents() (a test can let a fake clock fire here).
    std::function<void()> onProcessEvents;

    MsgAnswer message(const QString& title, const QString& text, MsgIcon icon,
                      MsgButtons buttons) override;
    void setBusyCursor(bool busy) override;
    bool busyCursor() const override { return busy_; }
    void processEvents() override;

private:
    const Clock* clock_;
    std::deque<MsgAnswer> answers_;
    QList<RecordedMessage> messages_;
    QList<bool> cursorChanges_;
    int unanswered_ = 0;
    int processCalls_ = 0;
    bool busy_ = false;
};

} // namespace platform
