#include "qt/DialogUnits.h"

#include <QFontMetrics>

namespace {

// a * b / c rounded half away from zero.
int MulDiv(int a, int b, int c) {
    const long long n = static_cast<long long>(a) * b;
    return static_cast<int>(n >= 0 ? (n + c / 2) / c : (n - c / 2) / c);
}

} // namespace

CDialogUnits::CDialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int nAlphabet =
        metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_nBaseX = (nAlphabet / 26 + 1) / 2;
    m_nBaseY = metrics.height();
}

int CDialogUnits::X(int nUnits) const {
    return MulDiv(nUnits, m_nBaseX, 4);
}

int CDialogUnits::Y(int nUnits) const {
    return MulDiv(nUnits, m_nBaseY, 8);
}

QRect CDialogUnits::Rect(int x, int y, int cx, int cy) const {
    const int nLeft = X(x);
    const int nTop = Y(y);
    return QRect(nLeft, nTop, X(x + cx) - nLeft, Y(y + cy) - nTop);
}
