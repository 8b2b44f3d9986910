#pragma once

// The print surface the report draws on: settings that apply to the next
// drawing operations, and the operations themselves. Units are twips
// (1/1440 inch) on an A4 landscape page; colours are Windows COLORREF
// values (0x00BBGGRR); pen and brush styles use the GDI numbering (pen 0
// solid, 2 dotted, 5 none; brush 0 solid, 1 hollow).

#include <QString>

namespace print {

enum TextAlign : int { AlignLeft = 6, AlignCenter = 7, AlignRight = 8 };
enum PenStyle : int { PenSolid = 0, PenDot = 2, PenNone = 5 };
enum BrushStyle : int { BrushSolid = 0, BrushHollow = 1 };
// Zoom modes: 1 all pages, 2 two pages, 3 whole page, 4 page width; 0 a
// zoom percentage.
enum ZoomMode : int { ZoomPercent = 0, ZoomAllPages = 1, ZoomTwoPages = 2, ZoomWholePage = 3,
                      ZoomPageWidth = 4 };

class PrintSurface {
public:
    virtual ~PrintSurface() = default;

    // --- settings for what follows -----------------------------------------
    virtual void setFontFace(const QString& face) = 0;
    virtual void setFontPoints(double points) = 0;
    virtual void setTextColour(quint32 colorref) = 0;
    virtual void setTextAlignment(int align) = 0;
    // Tenths of a degree; 900 runs the text upwards.
    virtual void setTextRotation(int tenths) = 0;
    virtual void setPenColor(quint32 colorref) = 0;
    virtual void setPenStyle(int style) = 0;
    // Twips; 0 is the thinnest line the device can draw.
    virtual void setPenWidth(double twips) = 0;
    virtual void setBrushColor(quint32 colorref) = 0;
    virtual void setBrushStyle(int style) = 0;

    virtual QString fontFace() const = 0;
    virtual double fontPoints() const = 0;
    virtual int textRotation() const = 0;

    // --- the page ----------------------------------------------------------
    // Clears the page and starts a new one.
    virtual void BeginDocument() = 0;
    // Text inside the box with the current font, colour, alignment and
    // rotation; the box is framed with the current pen and, when shaded,
    // filled with the current brush.
    virtual void DrawTextInBox(const QString& text, double left, double top, double width,
                               double height, bool wrap, bool shaded) = 0;
    virtual void DrawLine(double x1, double y1, double x2, double y2) = 0;
    // Outlined with the pen, filled with the brush.
    virtual void DrawRectangle(double x1, double y1, double x2, double y2) = 0;
    virtual void DrawCircle(double x, double y, double radius) = 0;
    // Width and height in twips of a text in the current font.
    virtual double TextWidth(const QString& text) const = 0;
    virtual double TextHeight(const QString& text) const = 0;
    virtual void Refresh() = 0;
    // The page is finished; a preview shows it.
    virtual void EndDocument() = 0;
};

} // namespace print
