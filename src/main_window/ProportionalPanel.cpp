#include "ProportionalPanel.h"

#include <QResizeEvent>
#include <cmath>

namespace mw {

ProportionalPanel::ProportionalPanel(QWidget* parent) : QWidget(parent) {
    const int dpi = logicalDpiX();
    twipsPerPixel_ = dpi > 0 ? 1440.0 / dpi : 15;
}

void ProportionalPanel::setTwipsPerPixel(double t) {
    twipsPerPixel_ = t > 0 ? t : 15;
    relayout();
}

void ProportionalPanel::registerControl(QWidget* w, const QRect& twips) {
    for (Entry& e : entries_)
        if (e.w == w) {
            e.twips = twips;
            relayout();
            return;
        }
    entries_.append({w, twips, -1});
    relayout();
}

void ProportionalPanel::registerLabel(int id, QWidget* label, const QRect& twips) {
    for (Entry& e : entries_)
        if (e.w == label) {
            e.twips = twips;
            e.id = id;
            relayout();
            return;
        }
    entries_.append({label, twips, id});
    relayout();
}

void ProportionalPanel::setReferenceWidth(int px) {
    referenceWidth_ = std::max(1, px);
    relayout();
}

QRect ProportionalPanel::registeredTwips(const QWidget* w) const {
    for (const Entry& e : entries_)
        if (e.w == w) return e.twips;
    return {};
}

QWidget* ProportionalPanel::label(int id) const {
    for (const Entry& e : entries_)
        if (e.id == id) return e.w;
    return nullptr;
}

void ProportionalPanel::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    relayout();
}

void ProportionalPanel::relayout() {
    const double f = double(width() > 0 ? width() : referenceWidth_) / referenceWidth_;
    auto px = [this](double twips) { return int(twips / twipsPerPixel_); };
    for (const Entry& e : entries_) {
        const int left = int(std::lround(e.twips.x() * f));
        const int w = int(std::lround(e.twips.width() * f));
        if (e.id >= 0) {
            e.w->resize(std::max(1, px(w)), px(e.twips.height()));
            emit labelMoved(e.id, left);
        } else {
            e.w->setGeometry(px(left), px(e.twips.y()), std::max(1, px(w)), px(e.twips.height()));
        }
    }
}

} // namespace mw
