#pragma once

// A container that keeps its registered children in proportion to its
// width, like the resizer the selection panel was designed with: left
// edges and widths follow the panel's width, tops and heights stay.
// Registered labels are not moved by the panel itself; it reports their
// new left edge and the owner places them.

#include <QHash>
#include <QRect>
#include <QWidget>

namespace mw {

class ProportionalPanel : public QWidget {
    Q_OBJECT
public:
    explicit ProportionalPanel(QWidget* parent = nullptr);

    // Geometry in twips at the reference width.
    void registerControl(QWidget* w, const QRect& twips);
    void registerLabel(int id, QWidget* label, const QRect& twips);
    // The width in pixels at which the registered geometry holds as given.
    void setReferenceWidth(int px);
    int referenceWidth() const { return referenceWidth_; }
    double twipsPerPixel() const { return twipsPerPixel_; }
    void setTwipsPerPixel(double t);

    QRect registeredTwips(const QWidget* w) const;
    QWidget* label(int id) const;

signals:
    // A label's new left edge in twips.
    void labelMoved(int id, int leftTwips);

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    struct Entry {
        QWidget* w;
        QRect twips;
        int id; // -1 for controls
    };
    void relayout();
    QList<Entry> entries_;
    int referenceWidth_ = 1152;
    double twipsPerPixel_ = 15;
};

} // namespace mw
