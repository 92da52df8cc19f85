#include "ui/widgets/URLLabel.h"

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QPixmap>
#include <QRegularExpression>

#include "ui/app/UiServices.h"

// The resources live in a static library: nothing pulls their registration in unless
// someone asks for it by name.
static void EnsureResources() {
    static const bool once = [] {
        Q_INIT_RESOURCE(quindle);
        return true;
    }();
    (void)once;
}

namespace quindle {

namespace {
// The caption a new label shows until its window sets its own.
const char* const DefaultLinkText = "quindle.example.org";
} // namespace

QString URLPrefix(TURLType type) {
    switch (type) {
    case utFTP: return QStringLiteral("ftp://");
    case utMailTo: return QStringLiteral("mailto:");
    case utHTTP: break;
    }
    return QStringLiteral("http://");
}

QString URLTarget(TURLType type, const QString& caption) {
    const QString prefix = URLPrefix(type);
    if (caption.toLower().contains(prefix)) return caption;
    // A caption that already names its scheme ("https://...", "mailto:...") is a whole
    // address: putting the kind's prefix in front would double the scheme.
    static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*://|mailto:)"),
                                           QRegularExpression::CaseInsensitiveOption);
    if (caption.contains(scheme)) return caption;
    return prefix + caption;
}

QCursor URLCursor() {
    // Loaded afresh for every label, as the cursor table entry it stands for was.
    EnsureResources();
    const QPixmap hand(QStringLiteral(":/URLCURSOR_1"));
    if (hand.isNull()) return QCursor(Qt::PointingHandCursor);
    return QCursor(hand, 5, 0);
}

TURLLabel::TURLLabel(UiServices& ui, QWidget* parent) : QLabel(parent), FUi(ui) {
    setTextFormat(Qt::PlainText);
    setText(QString::fromLatin1(DefaultLinkText));
    // An own font: underline only, and it no longer follows the parent's font.
    QFont f = QApplication::font();
    f.setBold(false);
    f.setItalic(false);
    f.setStrikeOut(false);
    f.setUnderline(true);
    setFont(f);
    setCursor(URLCursor());
    SetTransparent(false);
    adjustSize();
}

void TURLLabel::SetCaption(const QString& v) {
    if (v == text()) return;
    setText(v);
    if (FAutoSize) adjustSize();
}

void TURLLabel::SetAutoSize(bool v) {
    FAutoSize = v;
    if (FAutoSize) adjustSize();
}

void TURLLabel::SetTransparent(bool v) {
    FTransparent = v;
    setAutoFillBackground(!v);
    update();
}

void TURLLabel::Click() {
    if (OnClick) OnClick(this);
    FUi.ShellOpen(URLTarget(FURLType, text()));
}

void TURLLabel::SetTextColor(const QColor& c) {
    QPalette pal = palette();
    // The role the label paints its text with: on a panel with a window background
    // (the about box) that is Text, not WindowText.
    pal.setColor(foregroundRole(), c);
    setPalette(pal); // repaints
}

void TURLLabel::enterEvent(QEnterEvent* event) {
    QLabel::enterEvent(event);
    SetTextColor(QColor(0, 0, 255));
}

void TURLLabel::leaveEvent(QEvent* event) {
    QLabel::leaveEvent(event);
    SetTextColor(QColor(0, 0, 0));
}

void TURLLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) FLeftPressed = true;
    QLabel::mousePressEvent(event);
}

void TURLLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton) return;
    const bool pressedHere = FLeftPressed;
    FLeftPressed = false;
    if (pressedHere && rect().contains(event->position().toPoint())) Click();
}

} // namespace quindle
