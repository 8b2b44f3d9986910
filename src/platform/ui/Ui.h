#pragma once

// What the client logic needs from the windowing toolkit besides its own
// dialogs: message boxes, the busy pointer and the event pump. QtUi shows
// real message boxes; ScriptedUi records them and answers from a script.

#include <QString>

namespace platform {

enum class MsgIcon { None, Information, Exclamation, Stop, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgAnswer { Ok, Cancel, Yes, No };

class Ui {
public:
    virtual ~Ui() = default;
    // Modal message box; returns the button the user chose.
    virtual MsgAnswer message(const QString& title, const QString& text, MsgIcon icon,
                              MsgButtons buttons) = 0;
    // Hourglass (true) or the normal arrow (false). Setting the same state
    // twice is harmless, like the original pointer property.
    virtual void setBusyCursor(bool busy) = 0;
    virtual bool busyCursor() const = 0;
    // Processes pending window events once, without waiting.
    virtual void processEvents() = 0;
};

} // namespace platform
