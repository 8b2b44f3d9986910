#include "MemoryDialogs.h"

#include <stdexcept>

namespace srv {

namespace {
void runModal(bool& visible, std::deque<DialogScript>& script, const char* name) {
    if (visible) throw std::logic_error(std::string(name) + " is already shown");
    if (script.empty()) throw std::logic_error(std::string("no script step for the modal ") + name);
    visible = true;
    DialogScript step = std::move(script.front());
    script.pop_front();
    step();
    if (visible)
        throw std::logic_error(std::string("script step left the modal ") + name + " open");
}
} // namespace

void MemoryLoginDialog::selectAllText(LoginField field, bool keepFocus) {
    selections.append({field, keepFocus});
}

void MemoryLoginDialog::showModal() {
    ++modalShows;
    runModal(visible_, script, "FMPass");
}

MemoryServerDialog::MemoryServerDialog(platform::Clock& clock) : ServerDialog(clock) {
    for (ServerField f : {ServerField::BWJ, ServerField::BNAMESPACE, ServerField::BFIRMA,
                          ServerField::BFIL, ServerField::BSERVERIP, ServerField::BPORT})
        fields_[int(f)] = initialText(f);
}

void MemoryServerDialog::showModal() {
    ++modalShows;
    runModal(visible_, script, "FMServer");
}

void MemoryServerDialog::clickEdit() {
    unlocked_ = !unlocked_;
    onBUEdit();
}

bool MemoryServerDialog::type(ServerField field, const QString& text) {
    if (locked_ || field == ServerField::BWJ) return false;
    fields_[int(field)] = text;
    return true;
}

} // namespace srv
