#include "ui/widgets/OvalButton.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QRegion>
#include <QShortcut>
#include <algorithm>
#include <cmath>

#include "platform/CodePage.h"
#include "ui/shared/Text.h"

namespace quindle {

TColor ResolveSysColor(TColor c) {
    if (!IsSystemColor(c)) return c & 0xFFFFFFu;
    const QPalette pal = QGuiApplication::palette();
    switch (c) {
    case clWindow: return FromQColor(pal.color(QPalette::Base));
    case clWindowText: return FromQColor(pal.color(QPalette::WindowText));
    case clBtnFace: return FromQColor(pal.color(QPalette::Button));
    case clBtnShadow: return FromQColor(pal.color(QPalette::Dark));
    case clGrayText: return FromQColor(pal.color(QPalette::Disabled, QPalette::WindowText));
    case clBtnText: return FromQColor(pal.color(QPalette::ButtonText));
    case clBtnHighlight: return FromQColor(pal.color(QPalette::Light));
    default: return DefaultSysColor(c);
    }
}

QColor ToQColor(TColor c) {
    const TColor rgb = ResolveSysColor(c);
    return QColor(int(RedOf(rgb)), int(GreenOf(rgb)), int(BlueOf(rgb)));
}

TColor FromQColor(const QColor& c) {
    return RGBColor(unsigned(c.red()), unsigned(c.green()), unsigned(c.blue()));
}

namespace {

// An outline or arc of the ellipse whose exclusive bounds are r: Qt's aliased outline of
// QRect(x, y, w, h) covers w + 1 columns.
QRect OutlineRect(const OvalRect& r) { return QRect(r.Left, r.Top, r.Width() - 1, r.Height() - 1); }

QRect FillRect(const OvalRect& r) { return QRect(r.Left, r.Top, r.Width(), r.Height()); }

// Longest caption drawn; longer ones are cut.
constexpr int MaxCaptionChars = 79;

} // namespace

TOvalButton::TOvalButton(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    resize(100, 50);
    FFont = font();
    BevelColors(FColor, FHighlightColor, FShadowColor, 5, 4);
}

TOvalButton::~TOvalButton() = default;

void TOvalButton::BevelColors(TColor Color, TColor& Highlight, TColor& Shadow, int HighlightLevel,
                              int ShadowLevel) {
    const float hf = static_cast<float>(10 - HighlightLevel) / 10.0f;
    const float sf = static_cast<float>(10 - ShadowLevel) / 10.0f;
    ShadeColors(Color, Highlight, Shadow, hf, sf, ResolveSysColor);
}

// ---- properties ----------------------------------------------------------------------

void TOvalButton::SetBevelWidth(int v) {
    v = std::clamp(v, 0, 10);
    if (v == FBevelWidth) return;
    FBevelWidth = static_cast<uint8_t>(v);
    Invalidate();
}

void TOvalButton::SetCaption(const QString& v) {
    if (v == FCaption) return;
    FCaption = v;
    UpdateShortcut();
    Invalidate();
}

void TOvalButton::SetColor(TColor v) {
    if (v == FColor) return;
    FColor = v;
    BevelColors(FColor, FHighlightColor, FShadowColor, 5, 4);
    Invalidate();
}

void TOvalButton::SetDown(bool v) {
    if (v == FDown) return;
    FDown = v;
    FBevelState = FDown ? -1 : (FFlat ? 0 : 1);
    Invalidate();
}

void TOvalButton::SetFlat(bool v) {
    if (v == FFlat) return;
    FFlat = v;
    FBevelState = FFlat ? 0 : 1; // Down is not consulted
    Invalidate();
}

void TOvalButton::SetFont(const QFont& v) {
    if (v == FFont) return;
    FFont = v;
    Invalidate();
}

void TOvalButton::SetGlyph(const QImage& v) {
    FGlyph = v;
    if (!FGlyph.isNull() && FGlyph.width() > 0 && FGlyph.height() > 0)
        FTransparentColor = FromQColor(FGlyph.pixelColor(0, FGlyph.height() - 1));
    Invalidate();
}

void TOvalButton::SetGroupIndex(int v) { FGroupIndex = v; }

void TOvalButton::SetLayout(TButtonLayout v) {
    if (v == FLayout) return;
    FLayout = v;
    Invalidate();
}

void TOvalButton::SetMargin(int v) {
    if (v == FMargin) return;
    FMargin = v;
    Invalidate();
}

void TOvalButton::SetNumGlyphs(int v) {
    v = std::clamp(v, 0, 4);
    if (v == FNumGlyphs) return;
    FNumGlyphs = static_cast<uint8_t>(v);
    Invalidate();
}

void TOvalButton::SetSpacing(int v) {
    if (v == FSpacing) return;
    FSpacing = v;
    Invalidate();
}

void TOvalButton::SetTransparent(bool v) {
    if (v == FTransparent) return;
    FTransparent = v;
    Invalidate();
}

void TOvalButton::SetTransparentColor(TColor v) {
    if (v == FTransparentColor) return;
    FTransparentColor = v;
    Invalidate();
}

bool TOvalButton::PtInOval(int X, int Y) const {
    const QRegion oval(0, 0, width(), height(), QRegion::Ellipse);
    return oval.contains(QPoint(X, Y));
}

// ---- painting ------------------------------------------------------------------------

void TOvalButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    Paint(p);
}

void TOvalButton::Paint(QPainter& p) {
    p.setFont(FFont);
    p.setBrush(FTransparent ? QBrush(Qt::NoBrush) : QBrush(ToQColor(FColor)));
    p.setPen(FFlat ? QPen(Qt::NoPen) : QPen(QColor(Qt::black), 1));
    p.drawEllipse(OutlineRect(OutlineEllipse(width(), height())));
    DrawFace(p);
}

void TOvalButton::DrawBevel(QPainter& p) {
    if (FBevelState == 0) return; // no rim at all
    const int W = width(), H = height();
    const QColor hi = ToQColor(FHighlightColor), sh = ToQColor(FShadowColor);
    const bool raised = FBevelState > 0;
    const OvalPoint ur = UpperRightRadial(W, H), ll = LowerLeftRadial(W, H);
    p.setBrush(Qt::NoBrush);
    for (int half = 0; half < 2; ++half) {
        // First the upper-left half, then the lower-right one.
        const QColor c = (half == 0) == raised ? hi : sh;
        p.setPen(QPen(c, 1));
        for (int i = 1; i <= FBevelWidth; ++i) {
            const OvalRect e = RimEllipse(W, H, i);
            if (e.Width() < 2 || e.Height() < 2) break;
            const ArcSweep a = half == 0 ? RadialArc(e, ur, ll) : RadialArc(e, ll, ur);
            const int start = int(std::lround(a.StartDeg * 16)), span = int(std::lround(a.SpanDeg * 16));
            // An aliased arc of QRect(x, y, w, h) covers the pixels x .. x + w - 1.
            p.drawArc(QRect(e.Left, e.Top, e.Width(), e.Height()), start, span);
            // Raster arcs one pixel apart leave pinholes between them; a second arc half
            // a pixel further in closes them without widening the rim.
            if (i < FBevelWidth)
                p.drawArc(QRectF(e.Left + 0.5, e.Top + 0.5, e.Width() - 1.0, e.Height() - 1.0), start, span);
        }
    }
    // Raster ellipses one pixel apart share a few pixels where the curve is flat; the
    // outline goes on top so that it stays unbroken.
    if (!FFlat) {
        p.setPen(QPen(QColor(Qt::black), 1));
        p.drawEllipse(OutlineRect(OutlineEllipse(W, H)));
    }
}

FaceInput TOvalButton::FaceFor(bool sunken) const {
    const int imageW = FNumGlyphs > 0 ? FGlyph.width() / FNumGlyphs : FGlyph.width();
    const QFontMetrics fm(FFont);
    FaceInput in;
    in.W = width();
    in.H = height();
    in.HasGlyph = !FGlyph.isNull() && FNumGlyphs > 0 && imageW > 0 && FGlyph.height() > 0;
    in.GlyphW = imageW;
    in.GlyphH = FGlyph.height();
    in.HasCaption = !FCaption.isEmpty();
    in.TextW = in.HasCaption ? fm.horizontalAdvance(FCaption) : 0;
    in.TextH = in.HasCaption ? fm.height() : 0;
    in.Layout = FLayout;
    in.Margin = FMargin;
    in.Spacing = FSpacing;
    in.Sunken = sunken;
    return in;
}

QRect TOvalButton::CaptionRect() const {
    const FaceInput in = FaceFor(false);
    if (!in.HasCaption) return {};
    const FaceLayout at = ComputeFaceLayout(in);
    return QRect(at.Caption.X, at.Caption.Y, in.TextW, in.TextH);
}

void TOvalButton::DrawFace(QPainter& p) {
    const bool sunken = FBevelState < 0;
    const QColor face = ToQColor(FColor);

    DrawBevel(p);

    const FaceInput in = FaceFor(sunken);
    const bool hasGlyph = in.HasGlyph;
    const int imageW = in.GlyphW;
    const FaceLayout at = ComputeFaceLayout(in);

    if (hasGlyph) {
        int image = 0;
        if (!isEnabled() && FNumGlyphs > 1) image = 1;
        const OvalRect& d = at.Glyph;
        // Paint over the column and row the glyph uncovered (sunken) or will cover
        // (raised) when it moves by one pixel.
        if (!FTransparent) {
            p.setPen(QPen(face, 1));
            if (sunken) {
                p.drawLine(d.Left - 1, d.Bottom, d.Left - 1, d.Top - 1);
                p.drawLine(d.Left - 1, d.Top - 1, d.Right - 1, d.Top - 1);
            } else {
                p.drawLine(d.Right, d.Top, d.Right, d.Bottom);
                p.drawLine(d.Right, d.Bottom, d.Left + 1, d.Bottom);
            }
        }
        if (sunken && FNumGlyphs > 2) image = 2;
        QPixmap pm = QPixmap::fromImage(FGlyph.copy(image * imageW, 0, imageW, FGlyph.height()));
        pm.setMask(pm.createMaskFromColor(ToQColor(FTransparentColor), Qt::MaskInColor));
        if (!FTransparent) p.fillRect(FillRect(d), face);
        p.drawPixmap(d.Left, d.Top, pm);
    }

    if (!in.HasCaption) return;
    const int x = at.Caption.X, y = at.Caption.Y, tw = in.TextW, th = in.TextH;
    if (!FTransparent) {
        // Erase where the caption stood in the other state, then its own background.
        if (!sunken) p.fillRect(QRect(x + 1, y + 1, tw, th), face);
        p.fillRect(QRect(x, y, tw, th), face);
    }
    p.setPen(isEnabled() ? ToQColor(clWindowText) : ToQColor(clGrayText));
    p.drawText(QRect(x, y, tw, th), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextShowMnemonic,
               FCaption.left(MaxCaptionChars));
}

void TOvalButton::RedrawFace() {
    if (FTransparent) Invalidate();
    else repaint();
}

// ---- mouse and keyboard --------------------------------------------------------------

void TOvalButton::FireClick() {
    if (OnClick) OnClick(this);
    emit clicked();
}

void TOvalButton::Click() {
    if (isEnabled() && FMouseInside) FireClick();
}

void TOvalButton::DblClick() {
    if (isEnabled() && FMouseInside && OnDblClick) OnDblClick(this);
}

bool TOvalButton::AccelChar(char code) {
    if (!IsAccelChar(code, FromQ(FCaption))) return false;
    // The keyboard clicks whether or not the pointer happens to be over the button.
    if (isEnabled()) FireClick();
    return true;
}

void TOvalButton::UpdateShortcut() {
    const char accel = AccelCharOf(FromQ(FCaption));
    const bool usable = (accel >= 'a' && accel <= 'z') || (accel >= 'A' && accel <= 'Z') || (accel >= '0' && accel <= '9');
    if (!usable) {
        delete FShortcut;
        FShortcut = nullptr;
        return;
    }
    const char upper = static_cast<char>(UpperByte(static_cast<unsigned char>(accel)));
    const QKeySequence seq(QKeyCombination(Qt::AltModifier, static_cast<Qt::Key>(upper)));
    if (!FShortcut) {
        FShortcut = new QShortcut(this);
        FShortcut->setContext(Qt::WindowShortcut);
        auto fire = [this] { AccelChar(AccelCharOf(FromQ(FCaption))); };
        connect(FShortcut, &QShortcut::activated, this, fire);
        // Two buttons of a window sharing a letter: each one still answers.
        connect(FShortcut, &QShortcut::activatedAmbiguously, this, fire);
    }
    FShortcut->setKey(seq);
}

void TOvalButton::mousePressEvent(QMouseEvent* event) {
    const QPoint pt = event->position().toPoint();
    FClickArmed = event->button() == Qt::LeftButton;
    if (isEnabled() && PtInOval(pt.x(), pt.y())) {
        FDownAtPress = FDown;
        FDown = true;
        FBevelState = -1;
        // A press inside is proof enough that the pointer is there, even when no move
        // was seen before (touch screens, remote desktops, a window under a still pointer).
        FMouseInside = true;
        RedrawFace();
        if (OnMouseDown) OnMouseDown(this, event->button(), event->modifiers(), pt.x(), pt.y());
    }
    FMouseHeld = true;
}

void TOvalButton::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) DblClick();
    mousePressEvent(event);
    FClickArmed = false; // the release of a double click does not click again
}

void TOvalButton::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint pt = event->position().toPoint();
    // The click comes first, while the button is still drawn sunken.
    if (event->button() == Qt::LeftButton && FClickArmed && rect().contains(pt)) Click();
    if (event->button() == Qt::LeftButton) FClickArmed = false;
    if (isEnabled() && PtInOval(pt.x(), pt.y())) {
        if (FGroupIndex == 0) {
            FDown = false;
            FBevelState = 1;
            RedrawFace();
        } else {
            SetDown(!FDownAtPress);
        }
        if (OnMouseUp) OnMouseUp(this, event->button(), event->modifiers(), pt.x(), pt.y());
    }
    FMouseHeld = false;
}

void TOvalButton::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pt = event->position().toPoint();
    const bool inside = PtInOval(pt.x(), pt.y());
    if (FMouseHeld) {
        if (inside) {
            if (FBevelState == 1 && FGroupIndex == 0) {
                FMouseInside = true;
                FDown = true;
                FBevelState = -1;
                repaint();
            }
        } else {
            if (FBevelState == -1 && FGroupIndex == 0 && FMouseInside) {
                FDown = false;
                FBevelState = 1;
                repaint();
            }
            FMouseInside = false;
        }
    } else if (FFlat && !FDown) {
        if (inside) {
            FMouseInside = true;
            if (FBevelState != 1) {
                FBevelState = 1;
                repaint();
            }
        } else if (FMouseInside) {
            FMouseInside = false;
            FBevelState = 0;
            Invalidate();
        }
    } else {
        FMouseInside = inside;
    }
    if (FMouseInside && OnMouseMove) OnMouseMove(this, event->modifiers(), pt.x(), pt.y());
}

void TOvalButton::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    if (OnMouseEnter) OnMouseEnter(this);
}

void TOvalButton::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    if (FMouseInside && isEnabled()) {
        FMouseInside = false;
        if (FFlat && !FDown) {
            FBevelState = 0;
            Invalidate();
        }
    }
    if (OnMouseExit) OnMouseExit(this);
}

void TOvalButton::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) Invalidate();
}

} // namespace quindle
