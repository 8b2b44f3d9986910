#include "Ui.h"

namespace platform {

const char* toString(MsgIcon icon) {
    switch (icon) {
    case MsgIcon::None:
        return "None";
    case MsgIcon::Information:
        return "Information";
    case MsgIcon::Exclamation:
        return "Exclamation";
    case MsgIcon::Stop:
        return "Stop";
    case MsgIcon::Question:
        return "Question";
    }
    return "?";
}

const char* toString(MsgButtons buttons) {
    switch (buttons) {
    case MsgButtons::Ok:
        return "Ok";
    case MsgButtons::OkCancel:
        return "OkCancel";
    case MsgButtons::YesNo:
        return "YesNo";
    case MsgButtons::YesNoCancel:
        return "YesNoCancel";
    }
    return "?";
}

const char* toString(MsgAnswer answer) {
    switch (answer) {
    case MsgAnswer::Ok:
        return "Ok";
    case MsgAnswer::Cancel:
        return "Cancel";
    case MsgAnswer::Yes:
        return "Yes";
    case MsgAnswer::No:
        return "No";
    }
    return "?";
}

} // namespace platform
