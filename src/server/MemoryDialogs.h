#pragma once

// The login-time dialogs without widgets, for tests and the headless tool.
// A modal showing runs the next queued script step (what the user does
// while the dialog is open); the step must leave the dialog hidden, as a
// user would, otherwise showModal throws.

#include "Dialogs.h"

#include <QHash>
#include <QList>
#include <deque>

namespace srv {

using DialogScript = std::function<void()>;

class MemoryLoginDialog : public LoginDialog {
public:
    QString text(LoginField field) const override { return fields_.value(int(field)); }
    void setText(LoginField field, const QString& text) override { fields_[int(field)] = text; }
    void selectAllText(LoginField field, bool keepFocus) override;
    void showModal() override;
    void showModeless() override { visible_ = true; }
    void hide() override { visible_ = false; }
    bool isVisible() const override { return visible_; }

    // Types into BUSER and leaves the field: the text becomes upper case, as
    // in the real dialog.
    void enterUser(const QString& text) { setText(LoginField::BUSER, text.toUpper()); }
    void clickAnmelden() { onBUSpeich(); }
    void clickAbbruch() { onBUAusst(); }
    void clickServer() { onBUServer(); }

    std::deque<DialogScript> script;
    int modalShows = 0;
    struct Selection {
        LoginField field;
        bool keepFocus;
        bool operator==(const Selection&) const = default;
    };
    QList<Selection> selections;

private:
    QHash<int, QString> fields_;
    bool visible_ = false;
};

class MemoryServerDialog : public ServerDialog {
public:
    explicit MemoryServerDialog(platform::Clock& clock);

    QString text(ServerField field) const override { return fields_.value(int(field)); }
    void setText(ServerField field, const QString& text) override { fields_[int(field)] = text; }
    bool fieldsLocked() const override { return locked_; }
    void setFieldsLocked(bool locked) override { locked_ = locked; }
    bool editUnlocked() const override { return unlocked_; }
    void setEditUnlocked(bool unlocked) override { unlocked_ = unlocked; }
    void showModal() override;
    void hide() override { visible_ = false; }
    bool isVisible() const override { return visible_; }
    void setConnectError(const QString& reason) override { connectError_ = reason; }
    const QString& connectError() const { return connectError_; }

    // Clicks the two-position button: it flips, then the handler runs.
    void clickEdit();
    void clickZurück() { onBUZurück(); }
    // Typing is possible only into unlocked fields (BWJ never).
    bool type(ServerField field, const QString& text);

    std::deque<DialogScript> script;
    int modalShows = 0;

private:
    QHash<int, QString> fields_;
    QString connectError_;
    bool locked_ = true;
    bool unlocked_ = false;
    bool visible_ = false;
};

} // namespace srv
