#pragma once
// Positions of the dialog templates are in dialog units: a quarter of the dialog font's average
// character width across, an eighth of its height down. Mapping them from the font in use keeps
// the windows' proportions whatever font and scale the desktop has.
#include <QFont>
#include <QRect>

class CDialogUnits {
public:
    explicit CDialogUnits(const QFont& font);
    // Base units as fixed numbers, for a test that wants exact pixels.
    CDialogUnits(int nBaseX, int nBaseY) : m_nBaseX(nBaseX), m_nBaseY(nBaseY) {}

    int X(int nUnits) const;
    int Y(int nUnits) const;
    // Corners are mapped one by one, so neighbouring controls keep their shared edges.
    QRect Rect(int x, int y, int cx, int cy) const;
    // A template's rectangle kept as a QRect in dialog units.
    QRect Rect(const QRect& rcUnits) const {
        return Rect(rcUnits.x(), rcUnits.y(), rcUnits.width(), rcUnits.height());
    }
    QSize Size(int cx, int cy) const { return {X(cx), Y(cy)}; }

    int GetBaseX() const { return m_nBaseX; }
    int GetBaseY() const { return m_nBaseY; }

private:
    int m_nBaseX;
    int m_nBaseY;
};
