#include "platform/print/DisplayList.h"

#include <QJsonObject>

namespace print {

QString colourName(quint32 colorref) {
    const unsigned r = colorref & 0xFFu;
    const unsigned g = (colorref >> 8) & 0xFFu;
    const unsigned b = (colorref >> 16) & 0xFFu;
    return QStringLiteral("#%1%2%3")
        .arg(r, 2, 16, QLatin1Char('0'))
        .arg(g, 2, 16, QLatin1Char('0'))
        .arg(b, 2, 16, QLatin1Char('0'))
        .toUpper();
}

quint32 colourFromName(const QString& name) {
    if (name.size() != 7 || !name.startsWith(QLatin1Char('#'))) return 0;
    bool ok = false;
    const uint rgb = name.mid(1).toUInt(&ok, 16);
    if (!ok) return 0;
    const quint32 r = (rgb >> 16) & 0xFFu;
    const quint32 g = (rgb >> 8) & 0xFFu;
    const quint32 b = rgb & 0xFFu;
    return r | (g << 8) | (b << 16);
}

const char* kindName(OpKind kind) {
    switch (kind) {
    case OpKind::Text:
        return "text";
    case OpKind::Line:
        return "line";
    case OpKind::Rect:
        return "rect";
    case OpKind::Circle:
        return "circle";
    }
    return "text";
}

namespace {

void putState(QJsonObject& o, const DrawState& s) {
    o.insert(QStringLiteral("font"), QJsonObject{{QStringLiteral("face"), s.fontFace},
                                                 {QStringLiteral("points"), s.fontPoints}});
    o.insert(QStringLiteral("textColour"), colourName(s.textColour));
    o.insert(QStringLiteral("align"), s.align);
    o.insert(QStringLiteral("rotation"), s.rotation);
    o.insert(QStringLiteral("pen"), QJsonObject{{QStringLiteral("colour"), colourName(s.penColour)},
                                                {QStringLiteral("style"), s.penStyle},
                                                {QStringLiteral("width"), s.penWidth}});
    o.insert(QStringLiteral("brush"),
             QJsonObject{{QStringLiteral("colour"), colourName(s.brushColour)},
                         {QStringLiteral("style"), s.brushStyle}});
}

DrawState takeState(const QJsonObject& o) {
    DrawState s;
    const QJsonObject font = o.value(QStringLiteral("font")).toObject();
    s.fontFace = font.value(QStringLiteral("face")).toString(s.fontFace);
    s.fontPoints = font.value(QStringLiteral("points")).toDouble(s.fontPoints);
    s.textColour = colourFromName(o.value(QStringLiteral("textColour")).toString());
    s.align = o.value(QStringLiteral("align")).toInt(s.align);
    s.rotation = o.value(QStringLiteral("rotation")).toInt(s.rotation);
    const QJsonObject pen = o.value(QStringLiteral("pen")).toObject();
    s.penColour = colourFromName(pen.value(QStringLiteral("colour")).toString());
    s.penStyle = pen.value(QStringLiteral("style")).toInt(s.penStyle);
    s.penWidth = pen.value(QStringLiteral("width")).toDouble(s.penWidth);
    const QJsonObject brush = o.value(QStringLiteral("brush")).toObject();
    s.brushColour = colourFromName(brush.value(QStringLiteral("colour")).toString());
    s.brushStyle = brush.value(QStringLiteral("style")).toInt(s.brushStyle);
    return s;
}

double num(const QJsonObject& o, const char* key) {
    return o.value(QLatin1String(key)).toDouble();
}

} // namespace

QJsonArray toJson(const DisplayList& list) {
    QJsonArray out;
    for (const Op& op : list) {
        QJsonObject o;
        o.insert(QStringLiteral("kind"), QLatin1String(kindName(op.kind)));
        switch (op.kind) {
        case OpKind::Text:
        case OpKind::Rect:
            o.insert(QStringLiteral("x"), op.x);
            o.insert(QStringLiteral("y"), op.y);
            o.insert(QStringLiteral("w"), op.w);
            o.insert(QStringLiteral("h"), op.h);
            break;
        case OpKind::Circle:
            o.insert(QStringLiteral("x"), op.x);
            o.insert(QStringLiteral("y"), op.y);
            o.insert(QStringLiteral("r"), op.r);
            break;
        case OpKind::Line:
            break;
        }
        if (op.kind == OpKind::Line || op.kind == OpKind::Rect) {
            o.insert(QStringLiteral("x1"), op.x1);
            o.insert(QStringLiteral("y1"), op.y1);
            o.insert(QStringLiteral("x2"), op.x2);
            o.insert(QStringLiteral("y2"), op.y2);
        }
        if (op.kind == OpKind::Text) {
            o.insert(QStringLiteral("text"), op.text);
            o.insert(QStringLiteral("wrap"), op.wrap);
            o.insert(QStringLiteral("shaded"), op.shaded);
        }
        putState(o, op.state);
        out.append(o);
    }
    return out;
}

DisplayList fromJson(const QJsonArray& array, QString* error) {
    DisplayList list;
    QStringList problems;
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonObject o = array.at(i).toObject();
        const QString kind = o.value(QStringLiteral("kind")).toString();
        Op op;
        if (kind == QLatin1String("text"))
            op.kind = OpKind::Text;
        else if (kind == QLatin1String("line"))
            op.kind = OpKind::Line;
        else if (kind == QLatin1String("rect"))
            op.kind = OpKind::Rect;
        else if (kind == QLatin1String("circle"))
            op.kind = OpKind::Circle;
        else {
            problems << QStringLiteral("Eintrag %1: unbekannte Art „%2“").arg(i).arg(kind);
            continue;
        }
        op.x = num(o, "x");
        op.y = num(o, "y");
        op.w = num(o, "w");
        op.h = num(o, "h");
        op.r = num(o, "r");
        op.x1 = num(o, "x1");
        op.y1 = num(o, "y1");
        op.x2 = num(o, "x2");
        op.y2 = num(o, "y2");
        op.text = o.value(QStringLiteral("text")).toString();
        op.wrap = o.value(QStringLiteral("wrap")).toBool();
        op.shaded = o.value(QStringLiteral("shaded")).toBool();
        op.state = takeState(o);
        list.push_back(std::move(op));
    }
    if (error) *error = problems.join(QLatin1Char('\n'));
    return list;
}

} // namespace print
