#include "Splash.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QStatusBar>
#include <QVBoxLayout>

namespace mw {

namespace {
// The picture: the program's name on a calm gradient with a small chart.
QPixmap picture() {
    QPixmap p(420, 200);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    QLinearGradient bg(0, 0, 0, p.height());
    bg.setColorAt(0, QColor(0x1f, 0x3a, 0x5f));
    bg.setColorAt(1, QColor(0x3d, 0x6a, 0x9e));
    g.fillRect(p.rect(), bg);
    g.setPen(QPen(QColor(255, 255, 255, 60), 1));
    for (int x = 230; x <= 400; x += 34)
        g.drawLine(x, 60, x, 170);
    const QPointF a[] = {{230, 150}, {264, 128}, {298, 138}, {332, 100}, {366, 108}, {400, 70}};
    const QPointF b[] = {{230, 160}, {264, 150}, {298, 152}, {332, 132}, {366, 136}, {400, 118}};
    g.setPen(QPen(QColor(0xff, 0x6b, 0x5b), 3));
    g.drawPolyline(a, 6);
    g.setPen(QPen(QColor(0x9f, 0xd3, 0xff), 2));
    g.drawPolyline(b, 6);
    g.setPen(Qt::white);
    QFont f = QApplication::font();
    f.setPointSize(26);
    f.setBold(true);
    g.setFont(f);
    g.drawText(QRect(24, 40, 220, 50), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Tallvero"));
    f.setPointSize(10);
    f.setBold(false);
    g.setFont(f);
    g.drawText(QRect(24, 92, 220, 60), Qt::AlignLeft | Qt::TextWordWrap,
               QStringLiteral("Umsatz und Deckungsbeitrag\nim Monatsvergleich"));
    return p;
}
} // namespace

Splash::Splash(QWidget* parent) : QWidget(parent, Qt::Dialog | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("Splash"));
    setWindowTitle(QStringLiteral("Bitte warten..."));
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(0);
    auto* pic = new QLabel;
    pic->setPixmap(picture());
    lay->addWidget(pic);
    StatusBar = new QStatusBar;
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setSizeGripEnabled(false);
    panel1_ = new QLabel;
    panel1_->setObjectName(QStringLiteral("Panel1"));
    StatusBar->addWidget(panel1_, 1);
    lay->addWidget(StatusBar);
    setFixedSize(sizeHint());
}

void Splash::setStatus(const QString& text) {
    panel1_->setText(text);
    if (isVisible()) repaint();
}

QString Splash::status() const {
    return panel1_->text();
}

} // namespace mw
