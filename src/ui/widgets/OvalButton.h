#pragma once
// TOvalButton: the push button of every window. An ellipse filling its rectangle with a
// shaded rim (raised or sunken), an optional glyph beside, above or below a one-line
// caption. Only points inside the ellipse are hits; it never takes the keyboard focus,
// the keyboard reaches it through its caption's accelerator (Alt+letter).
#include <QFont>
#include <QImage>
#include <QString>
#include <QWidget>
#include <functional>

#include "color/ColorConv.h"
#include "ui/widgets/OvalGeometry.h"

class QShortcut;
class QPainter;

namespace quindle {

// Resolves a toolkit colour value (direct RGB or a system colour reference) through the
// application's palette.
QColor ToQColor(TColor c);
// The direct RGB value of a Qt colour.
TColor FromQColor(const QColor& c);
// Resolver for ShadeColors built on the application's palette.
TColor ResolveSysColor(TColor c);

class TOvalButton : public QWidget {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(QObject* Sender)>;
    using TMouseEvent =
        std::function<void(QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y)>;
    using TMouseMoveEvent = std::function<void(QObject* Sender, Qt::KeyboardModifiers Shift, int X, int Y)>;

    explicit TOvalButton(QWidget* parent = nullptr);
    ~TOvalButton() override;

    // Properties: each setter stores and repaints only when the value changes.
    int BevelWidth() const { return FBevelWidth; }
    void SetBevelWidth(int v); // 0..10
    QString Caption() const { return FCaption; }
    void SetCaption(const QString& v);
    TColor Color() const { return FColor; }
    void SetColor(TColor v);
    bool Down() const { return FDown; }
    void SetDown(bool v);
    bool Flat() const { return FFlat; }
    void SetFlat(bool v);
    const QFont& Font() const { return FFont; }
    void SetFont(const QFont& v);
    const QImage& Glyph() const { return FGlyph; }
    void SetGlyph(const QImage& v); // also takes TransparentColor from the bottom-left pixel
    int GroupIndex() const { return FGroupIndex; }
    void SetGroupIndex(int v);
    TButtonLayout Layout() const { return FLayout; }
    void SetLayout(TButtonLayout v);
    int Margin() const { return FMargin; }
    void SetMargin(int v);
    int NumGlyphs() const { return FNumGlyphs; }
    void SetNumGlyphs(int v); // 0..4
    int Spacing() const { return FSpacing; }
    void SetSpacing(int v);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool v);
    TColor TransparentColor() const { return FTransparentColor; }
    void SetTransparentColor(TColor v);

    // Rim shades derived from Color; 1 raised, 0 none, -1 sunken.
    TColor HighlightColor() const { return FHighlightColor; }
    TColor ShadowColor() const { return FShadowColor; }
    int BevelState() const { return FBevelState; }
    bool MouseInside() const { return FMouseInside; }
    bool MouseHeld() const { return FMouseHeld; }

    // True when (X, Y) lies in the elliptic region bounded by (0, 0, Width, Height).
    bool PtInOval(int X, int Y) const;
    // Where the caption is painted when the button is raised (empty without a caption).
    QRect CaptionRect() const;

    // Fires OnClick (and clicked()) when enabled and the pointer is inside the ellipse.
    void Click();
    void DblClick();
    // The accelerator character of the caption arrived: clicks when enabled. Returns
    // true when the character is the accelerator (handled, enabled or not).
    bool AccelChar(char code);

    TNotifyEvent OnClick, OnDblClick, OnMouseEnter, OnMouseExit;
    TMouseEvent OnMouseDown, OnMouseUp;
    TMouseMoveEvent OnMouseMove;

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Paint(QPainter& p);
    void DrawBevel(QPainter& p);
    void DrawFace(QPainter& p);
    FaceInput FaceFor(bool sunken) const;
    // Highlight and shadow through ShadeColors with factors (10 - level) / 10.
    static void BevelColors(TColor Color, TColor& Highlight, TColor& Shadow, int HighlightLevel, int ShadowLevel);
    // Press and release redraw at once; a transparent button needs its parent behind it.
    void RedrawFace();
    void Invalidate() { update(); }
    void UpdateShortcut();
    void FireClick();

    uint8_t FBevelWidth = 0;
    TColor FColor = clBtnFace;
    TColor FHighlightColor = 0;
    TColor FShadowColor = 0;
    bool FDown = false;
    bool FDownAtPress = false;
    bool FFlat = false;
    QFont FFont;
    QImage FGlyph;
    int FGroupIndex = 0;
    TButtonLayout FLayout = blGlyphBottom;
    int FMargin = 0;
    uint8_t FNumGlyphs = 0;
    int FSpacing = 4;
    int FBevelState = 1;
    bool FTransparent = false;
    TColor FTransparentColor = clBlack;
    bool FMouseHeld = false;
    bool FMouseInside = false;
    // A left press began on the button: its release may click. A double click's second
    // press does not arm it, so a double click clicks once.
    bool FClickArmed = false;
    QString FCaption;
    QShortcut* FShortcut = nullptr; // owned by this widget as a child
};

} // namespace quindle
