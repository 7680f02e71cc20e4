// The eleven step pictures as technical drawings. An operator with an open machine on the bench
// follows them, so every picture names what it shows, the marks that ask for an action are red,
// and the two families differ in colour and shape (milling machine: steel blue, spindle over a
// table; scanner: beige, probe over a turntable).
#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "tools/pictures/Pictures.h"

namespace {

const QColor kBack(0xE9, 0xE7, 0xE2);
const QColor kBench(0xCE, 0xC7, 0xB8);
const QColor kLine(0x1D, 0x21, 0x25);
const QColor kWhite(0xFF, 0xFF, 0xFF);
const QColor kRed(0xE0, 0x00, 0x00);
const QColor kOrange(0xF0, 0x8A, 0x00);
const QColor kMetal(0xB9, 0xBF, 0xC6);
const QColor kMetalLight(0xDD, 0xE1, 0xE5);
const QColor kMetalDark(0x7E, 0x86, 0x8E);
const QColor kChip(0x24, 0x24, 0x26);
const QColor kChipText(0xC4, 0xC4, 0xC4);
const QColor kGold(0xD6, 0xB2, 0x4A);
const QColor kBlack(0x14, 0x14, 0x14);
const QColor kCable(0x2A, 0x2A, 0x2C);
const QColor kSerialCable(0x8C, 0x92, 0x9A);
const QColor kLedOn(0x3C, 0xE0, 0x3C);
const QColor kInterior(0x33, 0x37, 0x3C);

enum class EFamily { Milling, Scanner };

struct CFamilyLook {
    QColor m_body, m_bodyLight, m_bodyDark;
    QColor m_pcb, m_pcbDark, m_trace;
    const char* m_pszModels;
    const char* m_pszKind;
};

const CFamilyLook& Look(EFamily family) {
    static const CFamilyLook milling{{0x3E, 0x64, 0x89}, {0x6F, 0x93, 0xB8}, {0x27, 0x42, 0x5F},
                                     {0x2B, 0x7A, 0x3A}, {0x1C, 0x56, 0x28}, {0x4A, 0x9A, 0x58},
                                     "TVK-35/50",        "MILLING MACHINE"};
    static const CFamilyLook scanner{{0xD3, 0xC2, 0x96}, {0xEC, 0xE2, 0xC6}, {0x9E, 0x8C, 0x62},
                                     {0x23, 0x5A, 0x9E}, {0x16, 0x3C, 0x6E}, {0x4C, 0x80, 0xC4},
                                     "NRP-7/70",         "3D SCANNER"};
    return family == EFamily::Milling ? milling : scanner;
}

QString LoadFontFamily() {
    // The font is fixed so the pictures come out the same on every machine that builds them.
    static const char* const kPaths[] = {
        "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
        "/usr/share/fonts/TTF/DejaVuSans-Bold.ttf",
        "/usr/share/fonts/dejavu/DejaVuSans-Bold.ttf",
    };
    for (const char* pszPath : kPaths) {
        int nId = QFontDatabase::addApplicationFont(QString::fromUtf8(pszPath));
        if (nId >= 0 && !QFontDatabase::applicationFontFamilies(nId).isEmpty())
            return QFontDatabase::applicationFontFamilies(nId).first();
    }
    throw std::runtime_error("DejaVu Sans Bold not found (Debian package fonts-dejavu-core)");
}

QFont PictureFont(int nPixels) {
    static const QString family = LoadFontFamily();
    QFont font(family);
    font.setPixelSize(nPixels);
    font.setWeight(QFont::Bold);
    font.setHintingPreference(QFont::PreferFullHinting);
    font.setStyleStrategy(static_cast<QFont::StyleStrategy>(
        QFont::PreferAntialias | QFont::NoSubpixelAntialias | QFont::NoFontMerging));
    return font;
}

enum class ELabel { Plain, Red, Note, Dark };

class CSketch {
public:
    explicit CSketch(QImage& image) : m_p(&image) {
        m_p.setRenderHint(QPainter::Antialiasing, true);
        m_p.setRenderHint(QPainter::TextAntialiasing, true);
    }

    QPainter& P() { return m_p; }

    // Outlined on whole pixels at scale 1: the pen runs along the inside of r.
    void Box(const QRectF& r, const QColor& fill, const QColor& line = kLine, qreal width = 1) {
        m_p.setPen(line.isValid() ? QPen(line, width, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin)
                                  : QPen(Qt::NoPen));
        m_p.setBrush(fill.isValid() ? QBrush(fill) : QBrush(Qt::NoBrush));
        qreal h = line.isValid() ? width / 2 : 0;
        m_p.drawRect(r.adjusted(h, h, -h, -h));
    }
    void Round(const QRectF& r, qreal radius, const QColor& fill, const QColor& line = kLine,
               qreal width = 1) {
        m_p.setPen(line.isValid() ? QPen(line, width) : QPen(Qt::NoPen));
        m_p.setBrush(fill.isValid() ? QBrush(fill) : QBrush(Qt::NoBrush));
        qreal h = line.isValid() ? width / 2 : 0;
        m_p.drawRoundedRect(r.adjusted(h, h, -h, -h), radius, radius);
    }
    void Ellipse(const QRectF& r, const QColor& fill, const QColor& line = kLine, qreal width = 1) {
        m_p.setPen(line.isValid() ? QPen(line, width) : QPen(Qt::NoPen));
        m_p.setBrush(fill.isValid() ? QBrush(fill) : QBrush(Qt::NoBrush));
        m_p.drawEllipse(r);
    }
    void Poly(const QPolygonF& poly, const QColor& fill, const QColor& line = kLine,
              qreal width = 1) {
        m_p.setPen(line.isValid() ? QPen(line, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin)
                                  : QPen(Qt::NoPen));
        m_p.setBrush(fill.isValid() ? QBrush(fill) : QBrush(Qt::NoBrush));
        m_p.drawPolygon(poly);
    }
    void Line(QPointF a, QPointF b, const QColor& color, qreal width = 1) {
        m_p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap));
        m_p.drawLine(a, b);
    }
    void Path(const QPainterPath& path, const QColor& color, qreal width) {
        m_p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        m_p.setBrush(Qt::NoBrush);
        m_p.drawPath(path);
    }
    void Text(const QRectF& r, const QString& text, const QColor& color, int nPixels,
              int flags = Qt::AlignCenter) {
        m_p.setFont(PictureFont(nPixels));
        m_p.setPen(color);
        m_p.drawText(r, flags, text);
    }

    QSizeF LabelSize(const QString& text, int nPixels) const {
        QFontMetricsF fm(PictureFont(nPixels));
        return {std::ceil(fm.horizontalAdvance(text)) + 6, static_cast<qreal>(nPixels) + 5};
    }

    // A label box with its top left corner at pos.
    QRectF Label(QPointF pos, const QString& text, ELabel style, int nPixels = 9) {
        QRectF r(FitInPicture(pos, text, nPixels), LabelSize(text, nPixels));
        QColor fill = kWhite, ink = kLine, border = kLine;
        switch (style) {
        case ELabel::Plain:
            break;
        case ELabel::Red:
            fill = kRed;
            ink = kWhite;
            border = QColor(0x80, 0, 0);
            break;
        case ELabel::Note:
            fill = QColor(0xFF, 0xD8, 0x30);
            border = kLine;
            break;
        case ELabel::Dark:
            fill = kLine;
            ink = kWhite;
            border = kLine;
            break;
        }
        Round(r, 2, fill, border);
        Text(r, text, ink, nPixels);
        return r;
    }

    // A label's position moved left as far as it takes to show all of it.
    QPointF FitInPicture(QPointF pos, const QString& text, int nPixels) const {
        qreal nRight = kPictureWidth - 2 - LabelSize(text, nPixels).width();
        return {std::max<qreal>(2, std::min(pos.x(), nRight)), pos.y()};
    }

    // A label joined by a leader line to the point it names.
    QRectF Callout(QPointF target, QPointF labelPos, const QString& text,
                   ELabel style = ELabel::Plain, int nPixels = 9) {
        labelPos = FitInPicture(labelPos, text, nPixels);
        QRectF r(labelPos, LabelSize(text, nPixels));
        QPointF from(std::clamp(target.x(), r.left() + 3, r.right() - 3),
                     std::clamp(target.y(), r.top() + 2, r.bottom() - 2));
        if (r.contains(target))
            from = r.center();
        QColor color = style == ELabel::Red ? kRed : kLine;
        qreal width = style == ELabel::Red ? 2 : 1;
        Line(from, target, color, width);
        Ellipse(QRectF(target - QPointF(2, 2), QSizeF(4, 4)), color, QColor());
        return Label(labelPos, text, style, nPixels);
    }

    // A thick arrow with a dark outline, so it reads on light and dark ground alike.
    void Arrow(QPointF a, QPointF b, const QColor& color, qreal width, qreal head) {
        QPointF d = b - a;
        qreal len = std::hypot(d.x(), d.y());
        if (len <= 0)
            return;
        d /= len;
        QPointF n(-d.y(), d.x());
        QPointF base = b - d * head;
        qreal hw = width / 2, hh = head * 0.75;
        QPolygonF poly;
        poly << a + n * hw << base + n * hw << base + n * hh << b << base - n * hh << base - n * hw
             << a - n * hw;
        Poly(poly, color, kLine, 1);
    }

    // The red frame that marks a part to act on; a white rim keeps it apart from any ground.
    void RedMark(const QRectF& r) {
        m_p.setBrush(Qt::NoBrush);
        m_p.setPen(QPen(kWhite, 6));
        m_p.drawRoundedRect(r, 3, 3);
        m_p.setPen(QPen(kRed, 3.5));
        m_p.drawRoundedRect(r, 3, 3);
    }

private:
    QPainter m_p;
};

void Background(CSketch& s, int nBenchTop = 178) {
    s.Box(QRectF(0, 0, kPictureWidth, kPictureHeight), kBack, QColor());
    s.Box(QRectF(0, nBenchTop, kPictureWidth, kPictureHeight - nBenchTop), kBench, QColor());
    s.Line(QPointF(0, nBenchTop + 0.5), QPointF(kPictureWidth, nBenchTop + 0.5),
           QColor(0xA8, 0xA0, 0x90));
}

// The family badge in the top left corner, so a picture of the wrong family is seen as such.
void Badge(CSketch& s, EFamily family, const QString& view) {
    const CFamilyLook& look = Look(family);
    QString text = QString::fromLatin1(look.m_pszModels) + "  " + view;
    QSizeF size = s.LabelSize(text, 9);
    QRectF r(2, 2, size.width() + 2, size.height());
    s.Round(r, 2, look.m_body, kLine);
    s.Text(r, text, family == EFamily::Milling ? kWhite : kLine, 9);
}

// ---- the machines, front elevation, in a 150 x 120 frame ----

// bTooling: a cutter in the spindle and a workpiece on the table; without it the table is free
// for the scan unit.
void MillingMachine(CSketch& s, const CFamilyLook& look, bool bTooling = true) {
    // base
    s.Box(QRectF(0, 100, 150, 20), look.m_body);
    s.Box(QRectF(1, 101, 148, 3), look.m_bodyLight, QColor());
    // columns
    s.Box(QRectF(8, 26, 16, 75), look.m_body);
    s.Box(QRectF(126, 26, 16, 75), look.m_body);
    s.Box(QRectF(10, 28, 4, 72), look.m_bodyLight, QColor());
    s.Box(QRectF(128, 28, 4, 72), look.m_bodyLight, QColor());
    // table with T-slots and a workpiece
    s.Box(QRectF(28, 90, 94, 10), kMetal);
    for (int x = 40; x < 120; x += 18)
        s.Box(QRectF(x, 92, 4, 6), kMetalDark, QColor());
    if (bTooling)
        s.Box(QRectF(48, 80, 54, 10), QColor(0xE2, 0xC2, 0x86));
    // beam with its guide rail
    s.Box(QRectF(4, 18, 142, 16), look.m_body);
    s.Box(QRectF(8, 25, 134, 3), kMetal, QColor());
    // carriage and spindle motor
    s.Box(QRectF(56, 12, 38, 42), look.m_bodyLight);
    s.Box(QRectF(62, 0, 26, 13), kMetal);
    for (int y = 3; y < 12; y += 3)
        s.Line(QPointF(64, y + 0.5), QPointF(86, y + 0.5), kMetalDark);
    // spindle, collet and cutter
    s.Box(QRectF(69, 54, 12, 10), kMetalDark);
    s.Poly(QPolygonF({QPointF(70, 64), QPointF(80, 64), QPointF(78, 69), QPointF(72, 69)}), kMetal);
    if (!bTooling)
        return;
    s.Box(QRectF(73, 69, 4, 7), kMetalLight);
    s.Poly(QPolygonF({QPointF(73, 76), QPointF(77, 76), QPointF(75, 80)}), kMetalLight);
}

void Scanner(CSketch& s, const CFamilyLook& look) {
    // base
    s.Box(QRectF(0, 100, 150, 20), look.m_body);
    s.Box(QRectF(1, 101, 148, 3), look.m_bodyLight, QColor());
    // tower with the probe carriage
    s.Box(QRectF(116, 4, 26, 97), look.m_body);
    s.Box(QRectF(119, 7, 5, 92), look.m_bodyLight, QColor());
    s.Line(QPointF(132.5, 10), QPointF(132.5, 96), look.m_bodyDark, 2);
    s.Box(QRectF(100, 18, 44, 16), look.m_bodyDark);
    // probe arm, probe and stylus
    s.Box(QRectF(78, 22, 24, 7), kMetal);
    s.Round(QRectF(72, 18, 14, 30), 3, kChip);
    s.Box(QRectF(77, 48, 4, 10), kMetalLight);
    s.Ellipse(QRectF(75.5, 57, 7, 7), QColor(0x20, 0x50, 0xC0));
    // turntable
    s.Box(QRectF(16, 86, 92, 10), QColor(0x44, 0x44, 0x48), QColor());
    s.Ellipse(QRectF(16, 90, 92, 12), QColor(0x44, 0x44, 0x48));
    s.Line(QPointF(16.5, 86), QPointF(16.5, 96), kLine);
    s.Line(QPointF(107.5, 86), QPointF(107.5, 96), kLine);
    s.Ellipse(QRectF(16, 80, 92, 12), QColor(0x66, 0x66, 0x6C));
    for (int i = 0; i < 8; ++i) {
        qreal a = i * 3.14159265 / 4;
        s.Line(QPointF(62, 86), QPointF(62 + 44 * std::cos(a), 86 + 5.5 * std::sin(a)),
               QColor(0x55, 0x55, 0x5A));
    }
    // the object being scanned: a vase
    QPainterPath vase;
    vase.moveTo(50, 86);
    vase.cubicTo(40, 76, 44, 62, 56, 58);
    vase.cubicTo(54, 54, 54, 50, 58, 46);
    vase.lineTo(66, 46);
    vase.cubicTo(70, 50, 70, 54, 68, 58);
    vase.cubicTo(80, 62, 84, 76, 74, 86);
    vase.closeSubpath();
    s.P().setPen(QPen(kLine, 1));
    s.P().setBrush(QColor(0xC8, 0x6E, 0x3A));
    s.P().drawPath(vase);
    s.Line(QPointF(50, 70), QPointF(54, 80), QColor(0xE0, 0x95, 0x60), 2);
}

void Machine(CSketch& s, EFamily family, QPointF origin, qreal scale) {
    s.P().save();
    s.P().translate(origin);
    s.P().scale(scale, scale);
    if (family == EFamily::Milling)
        MillingMachine(s, Look(family));
    else
        Scanner(s, Look(family));
    s.P().restore();
}

// ---- the main board, in a 240 x 160 frame ----

enum EJumper { kJ1, kJ2, kJ9, kJ10, kJumpers };
const char* const kJumperNames[kJumpers] = {"J1", "J2", "J9", "J10"};

struct CBoard {
    QPolygonF m_outline;
    QRectF m_cpu, m_rom, m_ram, m_driver, m_crystal;
    QRectF m_db9, m_jack, m_switch;
    QPointF m_led;
    QRectF m_jumper[kJumpers];
    // Where the silkscreen name of each jumper sits, and the red label when it is marked.
    QPointF m_silk[kJumpers];
    QPointF m_markLabel[kJumpers];
    std::vector<QPointF> m_capacitors;
    std::vector<std::vector<QPointF>> m_traces;
};

const CBoard& Board(EFamily family) {
    static const CBoard milling = [] {
        CBoard b;
        b.m_outline = QPolygonF(QRectF(0, 0, 232, 160));
        b.m_cpu = QRectF(86, 54, 52, 52);
        b.m_rom = QRectF(22, 18, 56, 18);
        b.m_ram = QRectF(96, 16, 56, 18);
        b.m_driver = QRectF(168, 22, 28, 14);
        b.m_crystal = QRectF(150, 62, 18, 8);
        b.m_switch = QRectF(216, 8, 28, 18);
        b.m_db9 = QRectF(208, 40, 36, 46);
        b.m_jack = QRectF(212, 112, 32, 20);
        b.m_led = QPointF(198, 22);
        b.m_jumper[kJ9] = QRectF(160, 84, 20, 10);
        b.m_jumper[kJ10] = QRectF(160, 108, 20, 10);
        b.m_jumper[kJ1] = QRectF(26, 112, 20, 10);
        b.m_jumper[kJ2] = QRectF(26, 134, 20, 10);
        b.m_silk[kJ9] = QPointF(183, 84);
        b.m_silk[kJ10] = QPointF(183, 108);
        b.m_silk[kJ1] = QPointF(49, 112);
        b.m_silk[kJ2] = QPointF(49, 134);
        b.m_markLabel[kJ9] = QPointF(150, 52);
        b.m_markLabel[kJ10] = QPointF(142, 124);
        b.m_markLabel[kJ1] = QPointF(70, 100);
        b.m_markLabel[kJ2] = QPointF(70, 132);
        b.m_capacitors = {{16, 60}, {16, 80}, {70, 126}, {150, 140}, {186, 64}};
        b.m_traces = {{{78, 27}, {96, 27}},
                      {{112, 34}, {112, 54}},
                      {{138, 66}, {150, 66}},
                      {{196, 29}, {200, 60}, {208, 60}},
                      {{138, 90}, {160, 89}},
                      {{138, 96}, {150, 96}, {150, 113}, {160, 113}},
                      {{86, 90}, {60, 90}, {46, 112}},
                      {{86, 100}, {66, 100}, {66, 139}, {46, 139}},
                      {{168, 36}, {168, 50}, {138, 60}},
                      {{212, 122}, {196, 122}, {196, 140}, {160, 140}}};
        return b;
    }();
    static const CBoard scanner = [] {
        CBoard b;
        b.m_outline = QPolygonF({QPointF(56, 0), QPointF(232, 0), QPointF(232, 160),
                                 QPointF(0, 160), QPointF(0, 44), QPointF(56, 44)});
        b.m_cpu = QRectF(22, 64, 50, 50);
        b.m_rom = QRectF(96, 126, 56, 18);
        b.m_ram = QRectF(96, 100, 56, 18);
        b.m_driver = QRectF(170, 120, 28, 14);
        b.m_crystal = QRectF(80, 70, 18, 8);
        b.m_db9 = QRectF(208, 100, 36, 46);
        b.m_jack = QRectF(212, 14, 32, 20);
        b.m_switch = QRectF(216, 46, 28, 18);
        b.m_led = QPointF(200, 80);
        b.m_jumper[kJ1] = QRectF(112, 14, 20, 10);
        b.m_jumper[kJ2] = QRectF(150, 14, 20, 10);
        b.m_jumper[kJ9] = QRectF(14, 134, 20, 10);
        b.m_jumper[kJ10] = QRectF(52, 134, 20, 10);
        b.m_silk[kJ1] = QPointF(112, 26);
        b.m_silk[kJ2] = QPointF(150, 26);
        b.m_silk[kJ9] = QPointF(14, 122);
        b.m_silk[kJ10] = QPointF(50, 122);
        b.m_markLabel[kJ1] = QPointF(102, 44);
        b.m_markLabel[kJ2] = QPointF(170, 40);
        b.m_markLabel[kJ9] = QPointF(8, 100);
        b.m_markLabel[kJ10] = QPointF(80, 110);
        b.m_capacitors = {{110, 62}, {130, 62}, {160, 82}, {90, 150}, {180, 150}};
        b.m_traces = {{{72, 74}, {80, 74}},
                      {{72, 100}, {96, 106}},
                      {{72, 108}, {84, 108}, {96, 134}},
                      {{152, 109}, {170, 109}, {170, 120}},
                      {{198, 127}, {208, 123}},
                      {{47, 114}, {47, 126}, {24, 134}},
                      {{60, 114}, {62, 134}},
                      {{47, 64}, {47, 54}, {122, 34}, {122, 24}},
                      {{60, 64}, {160, 40}, {160, 24}},
                      {{212, 24}, {190, 24}, {190, 70}, {200, 76}}};
        return b;
    }();
    return family == EFamily::Milling ? milling : scanner;
}

void Chip(CSketch& s, const QRectF& r, const QString& name, bool bQuad) {
    if (bQuad) {
        // pins on all four sides
        for (qreal t = 6; t < r.width() - 4; t += 5) {
            s.Box(QRectF(r.left() + t, r.top() - 3, 2, 3), kMetalLight, QColor());
            s.Box(QRectF(r.left() + t, r.bottom(), 2, 3), kMetalLight, QColor());
        }
        for (qreal t = 6; t < r.height() - 4; t += 5) {
            s.Box(QRectF(r.left() - 3, r.top() + t, 3, 2), kMetalLight, QColor());
            s.Box(QRectF(r.right(), r.top() + t, 3, 2), kMetalLight, QColor());
        }
    } else {
        for (qreal t = 3; t < r.width() - 2; t += 6) {
            s.Box(QRectF(r.left() + t, r.top() - 2, 3, 2), kMetalLight, QColor());
            s.Box(QRectF(r.left() + t, r.bottom(), 3, 2), kMetalLight, QColor());
        }
    }
    s.Box(r, kChip, kBlack);
    s.Ellipse(QRectF(r.left() + 3, r.top() + 3, 3, 3), QColor(0x50, 0x50, 0x54), QColor());
    if (!name.isEmpty())
        s.Text(r, name, kChipText, 9);
}

// A two-pin header, with its jumper block (shunt) on it when bCapped.
void Header(CSketch& s, const QRectF& r, bool bCapped) {
    s.Box(r, kBlack, kBlack);
    qreal pin = r.height() * 0.4;
    for (int i = 0; i < 2; ++i) {
        QPointF c(r.left() + r.width() * (i ? 0.72 : 0.28), r.center().y());
        s.Box(QRectF(c.x() - pin / 2, c.y() - pin / 2, pin, pin), kGold, QColor());
    }
    if (bCapped) {
        QRectF cap = r.adjusted(-1, -2, 1, 2);
        s.Round(cap, 1.5, QColor(0x30, 0x30, 0x34), kBlack);
        s.Box(QRectF(cap.left() + 2, cap.top() + 2, cap.width() - 4, 2), QColor(0x6A, 0x6A, 0x70),
              QColor());
    }
}

void Db9Socket(CSketch& s, const QRectF& r) {
    s.Box(r, kMetal, kLine);
    QRectF d = r.adjusted(r.width() * 0.3, 4, -3, -4);
    QPolygonF shape({d.topLeft(), d.topRight() + QPointF(0, 3), d.bottomRight() - QPointF(0, 3),
                     d.bottomLeft()});
    s.Poly(shape, kChip, kBlack);
    for (int i = 0; i < 5; ++i)
        s.Ellipse(QRectF(d.left() + 2, d.top() + 3 + i * (d.height() - 6) / 4.5, 2.5, 2.5), kGold,
                  QColor());
    for (int i = 0; i < 4; ++i)
        s.Ellipse(QRectF(d.right() - 5, d.top() + 5 + i * (d.height() - 8) / 3.6, 2.5, 2.5), kGold,
                  QColor());
}

void DcJack(CSketch& s, const QRectF& r) {
    s.Box(r, kChip, kBlack);
    qreal d = r.height() * 0.7;
    s.Ellipse(QRectF(r.right() - d - 2, r.center().y() - d / 2, d, d), kBlack,
              QColor(0x70, 0x70, 0x70));
    s.Ellipse(QRectF(r.right() - d / 2 - 4, r.center().y() - 1.5, 3, 3), kMetal, QColor());
}

void PowerSwitch(CSketch& s, const QRectF& r, bool bLabels) {
    s.Box(r, kChip, kBlack);
    // rocker pressed to the ON side (right)
    QRectF rocker = r.adjusted(3, 3, -3, -3);
    s.Box(QRectF(rocker.left(), rocker.top(), rocker.width() / 2, rocker.height()),
          QColor(0x50, 0x50, 0x54), QColor());
    s.Box(QRectF(rocker.center().x(), rocker.top(), rocker.width() / 2, rocker.height()), kWhite,
          kLine);
    if (bLabels)
        s.Text(QRectF(rocker.center().x(), rocker.top(), rocker.width() / 2, rocker.height()), "I",
               kLine, 9);
}

struct CBoardState {
    bool m_bCapped[kJumpers] = {false, false, true, true};
    // A marked jumper is named by its red label instead of the silkscreen.
    bool m_bMarked[kJumpers] = {};
    bool m_bLabels = true;
    bool m_bLedOn = true;
};

void MainBoard(CSketch& s, EFamily family, QPointF origin, qreal scale, const CBoardState& st) {
    const CFamilyLook& look = Look(family);
    const CBoard& b = Board(family);
    s.P().save();
    s.P().translate(origin);
    s.P().scale(scale, scale);

    s.Poly(b.m_outline, look.m_pcb, kBlack);
    for (QPointF hole : {QPointF(7, 7), QPointF(225, 7), QPointF(7, 153), QPointF(225, 153)}) {
        if (b.m_outline.containsPoint(hole + QPointF(4, 4), Qt::OddEvenFill) &&
            b.m_outline.containsPoint(hole - QPointF(4, 4), Qt::OddEvenFill))
            s.Ellipse(QRectF(hole - QPointF(3.5, 3.5), QSizeF(7, 7)), kBack, kMetal, 1.5);
    }
    for (const auto& trace : b.m_traces) {
        for (size_t i = 1; i < trace.size(); ++i)
            s.Line(trace[i - 1], trace[i], look.m_trace, 1.5);
    }
    for (QPointF c : b.m_capacitors) {
        s.Ellipse(QRectF(c - QPointF(6, 6), QSizeF(12, 12)), QColor(0x2A, 0x3E, 0x8C), kBlack);
        s.Ellipse(QRectF(c - QPointF(3, 3), QSizeF(6, 6)), kMetal, QColor());
    }
    Chip(s, b.m_cpu, st.m_bLabels ? "CPU" : "", true);
    Chip(s, b.m_rom, st.m_bLabels ? "ROM" : "", false);
    Chip(s, b.m_ram, st.m_bLabels ? "RAM" : "", false);
    Chip(s, b.m_driver, "", false);
    s.Round(b.m_crystal, 3, kMetal, kMetalDark);
    Db9Socket(s, b.m_db9);
    DcJack(s, b.m_jack);
    PowerSwitch(s, b.m_switch, st.m_bLabels);
    s.Ellipse(QRectF(b.m_led - QPointF(4, 4), QSizeF(8, 8)),
              st.m_bLedOn ? kLedOn : QColor(0x2E, 0x50, 0x2E), kBlack);
    for (int j = 0; j < kJumpers; ++j) {
        Header(s, b.m_jumper[j], st.m_bCapped[j]);
        if (st.m_bLabels && !st.m_bMarked[j])
            s.Text(QRectF(b.m_silk[j], QSizeF(24, 11)), kJumperNames[j], kWhite, 9,
                   Qt::AlignLeft | Qt::AlignVCenter);
    }
    s.P().restore();
}

QPointF BoardPoint(QPointF origin, qreal scale, QPointF p) {
    return origin + p * scale;
}
QRectF BoardRect(QPointF origin, qreal scale, const QRectF& r) {
    return QRectF(origin + r.topLeft() * scale, r.size() * scale);
}

// ---- the pictures ----

// 130: the machine with the scan unit put on it (both families see it before the first check).
QImage MachineWithScanUnit() {
    QImage image(kPictureWidth, kPictureHeight, QImage::Format_RGB32);
    CSketch s(image);
    Background(s);
    CFamilyLook neutral = Look(EFamily::Milling);
    neutral.m_body = QColor(0x6E, 0x74, 0x7A);
    neutral.m_bodyLight = QColor(0x9A, 0xA0, 0xA6);
    neutral.m_bodyDark = QColor(0x4A, 0x50, 0x56);
    s.P().save();
    s.P().translate(40, 46);
    s.P().scale(1.1, 1.1);
    MillingMachine(s, neutral, false);
    s.P().restore();
    // the scan unit standing on the table in place of the workpiece
    QRectF unit(88, 118, 60, 24);
    s.Box(QRectF(93, 136, 50, 8), neutral.m_bodyLight, QColor());
    s.Round(unit, 3, QColor(0xF2, 0xEE, 0xE4), kLine, 1.5);
    s.Ellipse(QRectF(unit.center().x() - 7, unit.top() + 5, 14, 14), kChip, kBlack);
    s.Ellipse(QRectF(unit.center().x() - 3, unit.top() + 9, 6, 6), QColor(0x40, 0x80, 0xE0),
              QColor());
    s.Arrow(QPointF(180, 96), QPointF(152, 120), kOrange, 6, 10);
    s.Callout(QPointF(150, 124), QPointF(172, 80), "SCAN UNIT", ELabel::Note, 10);
    s.Callout(QPointF(82, 56), QPointF(4, 24), "MACHINE", ELabel::Plain, 10);
    s.Label(QPointF(2, 2), "ALL MODELS  FRONT VIEW", ELabel::Dark, 9);
    return image;
}

enum class ECables { None, Plugged, AdapterOut };

// Where the rear views put what lies outside the machine, so leads do not cross and labels do
// not cover each other.
struct CRearLayout {
    QRectF m_brick;
    // where the adapter lead enters the brick
    QPointF m_brickIn;
    QPointF m_toPc, m_rs232, m_power, m_powerNote, m_led, m_unplug;
    // the serial lead leaves the picture here
    QPointF m_leadEnd;
};

const CRearLayout& RearLayout(EFamily family) {
    // milling: power switch on top, serial socket in the middle, DC jack at the bottom
    static const CRearLayout milling{
        .m_brick = QRectF(200, 152, 54, 26),
        .m_brickIn = QPointF(200, 165),
        .m_toPc = QPointF(218, 62),
        .m_rs232 = QPointF(196, 100),
        .m_power = QPointF(126, 62),
        .m_powerNote = QPointF(100, 62),
        .m_led = QPointF(96, 62),
        .m_unplug = QPointF(190, 124),
        .m_leadEnd = QPointF(256, 84),
    };
    // scanner: DC jack on top, power switch below it, serial socket at the bottom
    static const CRearLayout scanner{
        .m_brick = QRectF(200, 30, 54, 26),
        .m_brickIn = QPointF(227, 56),
        .m_toPc = QPointF(218, 166),
        .m_rs232 = QPointF(194, 140),
        .m_power = QPointF(170, 116),
        .m_powerNote = QPointF(166, 116),
        .m_led = QPointF(100, 62),
        .m_unplug = QPointF(146, 64),
        .m_leadEnd = QPointF(256, 160),
    };
    return family == EFamily::Milling ? milling : scanner;
}

// 131/136, 132/137, 133/138: the machine from behind with the rear cover off.
QImage RearView(EFamily family, ECables cables) {
    const CFamilyLook& look = Look(family);
    const CBoard& b = Board(family);
    const CRearLayout& lay = RearLayout(family);
    QImage image(kPictureWidth, kPictureHeight, QImage::Format_RGB32);
    CSketch s(image);
    Background(s, 184);

    Machine(s, family, QPointF(10, 16), 0.56);
    // the housing under the machine, its rear cover taken off
    QRectF housing(4, 82, 160, 102);
    s.Box(housing, look.m_body, kLine, 1.5);
    s.Box(housing.adjusted(5, 5, -5, -5), kInterior, kBlack);
    const QPointF origin(12, 90);
    const qreal scale = 0.6;
    CBoardState st;
    st.m_bLabels = false;
    st.m_bLedOn = cables == ECables::Plugged;
    MainBoard(s, family, origin, scale, st);

    QRectF db9 = BoardRect(origin, scale, b.m_db9);
    QRectF jack = BoardRect(origin, scale, b.m_jack);
    QRectF sw = BoardRect(origin, scale, b.m_switch);
    QPointF led = BoardPoint(origin, scale, b.m_led);

    if (cables == ECables::None) {
        Badge(s, family, "REAR, COVER OFF");
        // the rear cover, set aside
        QPolygonF cover({QPointF(196, 96), QPointF(248, 88), QPointF(252, 176), QPointF(200, 182)});
        s.Poly(cover, look.m_bodyLight, kLine, 1.5);
        for (QPointF c :
             {QPointF(202, 100), QPointF(242, 94), QPointF(245, 170), QPointF(205, 175)})
            s.Ellipse(QRectF(c - QPointF(2, 2), QSizeF(4, 4)), kMetal, kLine);
        s.Callout(QPointF(222, 132), QPointF(184, 62), "REAR COVER", ELabel::Plain, 9);
        s.Callout(BoardPoint(origin, scale, b.m_cpu.center()), QPointF(100, 62), "MAIN BOARD",
                  ELabel::Plain, 10);
        return image;
    }

    Badge(s, family, "REAR VIEW");
    // serial cable: plug on the socket, lead off to the PC
    QRectF plug(db9.right() - 1, db9.top() - 2, 12, db9.height() + 4);
    QPainterPath lead;
    lead.moveTo(plug.right(), plug.center().y());
    lead.cubicTo(plug.right() + 30, plug.center().y(), lay.m_leadEnd.x() - 40, lay.m_leadEnd.y(),
                 lay.m_leadEnd.x(), lay.m_leadEnd.y());
    s.Path(lead, kLine, 6);
    s.Path(lead, kSerialCable, 4);
    s.Box(plug, kSerialCable, kLine);
    s.Box(QRectF(plug.right() - 1, plug.center().y() - 5, 6, 10), kSerialCable, kLine);
    s.Callout(QPointF(plug.center().x(), plug.center().y()), lay.m_rs232, "RS-232C");
    s.Label(lay.m_toPc, "TO PC", ELabel::Plain, 9);

    // AC adapter brick on the bench with its lead to the DC plug
    const QRectF& brick = lay.m_brick;
    const qreal nPulled = cables == ECables::Plugged ? 0 : 26;
    QRectF dcPlug(jack.right() + nPulled, jack.center().y() - 3.5, 14, 7);
    const QPointF brickIn = lay.m_brickIn;
    // the lead leaves the plug straight and meets the brick square to its side
    QPointF brickPull = brickIn.x() <= brick.left() ? QPointF(-16, 0) : QPointF(0, 16);
    QPainterPath dcLead;
    dcLead.moveTo(dcPlug.right(), dcPlug.center().y());
    dcLead.cubicTo(QPointF(dcPlug.right() + 16, dcPlug.center().y()), brickIn + brickPull, brickIn);
    s.Path(dcLead, kCable, 3);
    s.Round(dcPlug, 1.5, kChip, kBlack);
    s.Box(QRectF(dcPlug.left() - 4, dcPlug.center().y() - 2, 4, 4), kMetal, kLine, 0.5);
    s.Round(brick, 3, QColor(0x2E, 0x2E, 0x32), kBlack, 1.5);
    s.Text(brick.adjusted(0, 1, 0, 0), "AC\nADAPTER", kWhite, 9);

    if (cables == ECables::Plugged) {
        s.Callout(sw.center(), lay.m_power, "POWER ON");
        s.Callout(led, lay.m_led, "LED");
    } else {
        // the plug is out: the empty jack ringed, an arrow showing the pull, the switch still on
        s.RedMark(jack.adjusted(-3, -3, 3, 3));
        s.Arrow(QPointF(jack.right() + 2, jack.top() - 8),
                QPointF(jack.right() + 42, jack.top() - 8), kRed, 5, 9);
        s.Label(lay.m_unplug, "UNPLUG", ELabel::Red, 10);
        s.Callout(sw.center(), lay.m_powerNote, "POWER STAYS ON", ELabel::Note);
    }
    return image;
}

// 134/135, 139/140: the main board with one pair of jumper blocks marked.
QImage BoardClose(EFamily family, EJumper first, EJumper second) {
    QImage image(kPictureWidth, kPictureHeight, QImage::Format_RGB32);
    CSketch s(image);
    Background(s, 192);
    const CBoard& b = Board(family);
    const QPointF origin(6, 22);
    CBoardState st;
    for (int j = 0; j < kJumpers; ++j)
        st.m_bCapped[j] = st.m_bMarked[j] = j == first || j == second;
    MainBoard(s, family, origin, 1.0, st);
    Badge(s, family, "MAIN BOARD");
    for (EJumper j : {first, second}) {
        QRectF r = BoardRect(origin, 1.0, b.m_jumper[j]).adjusted(-5, -5, 5, 5);
        s.RedMark(r);
        QPointF labelPos = BoardPoint(origin, 1.0, b.m_markLabel[j]);
        QRectF label(labelPos, s.LabelSize(kJumperNames[j], 12));
        QPointF edge(std::clamp(r.center().x(), label.left(), label.right()),
                     std::clamp(r.center().y(), label.top(), label.bottom()));
        QPointF near(std::clamp(label.center().x(), r.left(), r.right()),
                     std::clamp(label.center().y(), r.top(), r.bottom()));
        s.Line(edge, near, kWhite, 5);
        s.Line(edge, near, kRed, 3);
        s.Label(labelPos, kJumperNames[j], ELabel::Red, 12);
    }
    QString pair = QString::fromLatin1(kJumperNames[first]) + " & " + kJumperNames[second];
    QSizeF size = s.LabelSize(pair, 12);
    s.Label(QPointF(kPictureWidth - size.width() - 2, 2), pair, ELabel::Red, 12);
    return image;
}

} // namespace

QImage DrawStepPicture(int nId) {
    switch (nId) {
    case 130:
        return MachineWithScanUnit();
    case 131:
        return RearView(EFamily::Milling, ECables::None);
    case 132:
        return RearView(EFamily::Milling, ECables::Plugged);
    case 133:
        return RearView(EFamily::Milling, ECables::AdapterOut);
    case 134:
        return BoardClose(EFamily::Milling, kJ9, kJ10);
    case 135:
        return BoardClose(EFamily::Milling, kJ1, kJ2);
    case 136:
        return RearView(EFamily::Scanner, ECables::None);
    case 137:
        return RearView(EFamily::Scanner, ECables::Plugged);
    case 138:
        return RearView(EFamily::Scanner, ECables::AdapterOut);
    case 139:
        return BoardClose(EFamily::Scanner, kJ9, kJ10);
    case 140:
        return BoardClose(EFamily::Scanner, kJ1, kJ2);
    default:
        return {};
    }
}

const char* StepPictureCaption(int nId) {
    switch (nId) {
    case 130:
        return "130 machine + scan unit";
    case 131:
        return "131 milling, opened";
    case 132:
        return "132 milling, cable + adapter in";
    case 133:
        return "133 milling, adapter out";
    case 134:
        return "134 milling board, J9 J10";
    case 135:
        return "135 milling board, J1 J2";
    case 136:
        return "136 scanner, opened";
    case 137:
        return "137 scanner, cable + adapter in";
    case 138:
        return "138 scanner, adapter out";
    case 139:
        return "139 scanner board, J9 J10";
    case 140:
        return "140 scanner board, J1 J2";
    default:
        return "";
    }
}
