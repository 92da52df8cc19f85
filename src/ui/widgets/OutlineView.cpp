#include "ui/widgets/OutlineView.h"

#include <QBitmap>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <algorithm>
#include <climits>

#include "ui/shared/Text.h"

namespace quindle {

namespace {
constexpr int kPicture = 14; // pictures are 14 x 14
constexpr int kTextGap = 2;  // pixels between picture column and text
} // namespace

OutlineView::OutlineView(TCustomOutline& outline, QWidget* parent) : QAbstractScrollArea(parent), outline_(outline) {
    setFocusPolicy(Qt::StrongFocus);
    setBackgroundRole(QPalette::Base);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    resize(121, 97);
    frameTimer_.setSingleShot(true);
    connect(&frameTimer_, &QTimer::timeout, this, [this] { Frame(); });
    outline_.SetObserver(this);
    UpdateFont();
    RowsChanged();
}

OutlineView::~OutlineView() { outline_.SetObserver(nullptr); }

void OutlineView::Guard(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        if (OnError)
            OnError(e.what());
        else if (outline_.OnApplicationError)
            outline_.OnApplicationError(e.what());
    }
}

// ---- observer ----------------------------------------------------------------------------

void OutlineView::RowsChanged() {
    rowsStale_ = true;
    widestStale_ = true;
    RequestFrame();
}

void OutlineView::CurrentRowChanged() {
    currentStale_ = true;
    RequestFrame();
}

void OutlineView::Invalidate() { RequestFrame(); }

void OutlineView::RequestFrame() {
    if (frameTimer_.isActive()) return; // the held frame draws this change too
    const qint64 since = sinceFrame_.isValid() ? sinceFrame_.elapsed() : kFrameMs;
    if (since >= kFrameMs)
        Frame();
    else
        frameTimer_.start(static_cast<int>(kFrameMs - since));
}

void OutlineView::FlushFrame() {
    if (!frameTimer_.isActive() && !widestStale_) return;
    sinceWidest_.invalidate(); // the widest row too, now
    Frame();
}

void OutlineView::Frame() {
    frameTimer_.stop();
    // The scroll bars change here only: each change of their range or position costs them
    // a repaint and a timer of their own. The widest row takes a pass over every visible
    // row: while rows keep coming it is worked out at most every kWidestMs, and a frame
    // after the last change brings it up to date.
    const qint64 sinceWidest = sinceWidest_.isValid() ? sinceWidest_.elapsed() : kWidestMs;
    const bool measure = widestStale_ && sinceWidest >= kWidestMs;
    if (measure)
        UpdateScrollBars();
    else if (rowsStale_)
        UpdateVerticalRange();
    if (currentStale_) EnsureCurrentVisible();
    rowsStale_ = currentStale_ = false;
    viewport()->update();
    sinceFrame_.restart();
    if (widestStale_) frameTimer_.start(static_cast<int>(std::min<qint64>(kFrameMs, kWidestMs - sinceWidest)));
}

// ---- geometry ----------------------------------------------------------------------------

void OutlineView::UpdateFont() {
    const QFont f = font();
    const QFontMetrics fm(f);
    for (int c = 0x20; c < 0x7F; ++c) asciiAdvance_[static_cast<size_t>(c)] = fm.horizontalAdvance(QLatin1Char(static_cast<char>(c)));
    widestGlyph_ = std::max(1, fm.maxWidth());
    if (f.pointSize() > 0) {
        outline_.FontChanged(f.pointSize(), logicalDpiY());
    } else if (outline_.Style == otStandard) {
        outline_.FontHeight = f.pixelSize();
        outline_.ItemHeight = (f.pixelSize() * 120 + 50) / 100;
    }
    outline_.ItemHeight = std::max(outline_.ItemHeight, 1);
}

int OutlineView::FirstVisibleRow() const { return verticalScrollBar()->value(); }

int OutlineView::RowAt(int y) const {
    if (y < 0) return -1;
    const int row = FirstVisibleRow() + y / RowHeight();
    return row < outline_.Root()->VisibleCount() ? row : -1;
}

int OutlineView::TextWidthOf(TOutlineNode* node) {
    if (node->TextWidth < 0) node->TextWidth = fontMetrics().horizontalAdvance(ToQ(node->Text()));
    return node->TextWidth;
}

void OutlineView::ForgetTextWidths() {
    std::vector<TOutlineNode*> stack{outline_.Root()};
    while (!stack.empty()) {
        TOutlineNode* n = stack.back();
        stack.pop_back();
        n->TextWidth = -1;
        for (size_t i = 0; i < n->ChildCount(); ++i) stack.push_back(n->Child(i));
    }
    widestStale_ = true;
}

int OutlineView::TextWidthBound(const std::string& text) const {
    int bound = 0;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) return -1;
        bound += c < 0x80 ? asciiAdvance_[c] + 1 : widestGlyph_;
    }
    return bound;
}

int OutlineView::ColumnWidth() {
    const int client = viewport()->width();
    if (outline_.ScrollBars != ssHorizontal && outline_.ScrollBars != ssBoth) return client;
    if (widestStale_) {
        // As wide as the widest visible item needs: its indentation plus its text width
        // plus 1. Rows are measured once, and only when they could be the widest: the rows
        // measured before give the widest so far, and a row whose bound cannot beat it is
        // left unmeasured (a walk adds tens of thousands of rows; shaping each costs more
        // than the rest of the walk's view together).
        const int h = RowHeight();
        const int rootCols = (outline_.Options & ooDrawTreeRoot) ? 1 : 0;
        int widest = 0;
        struct Unmeasured {
            int bound; // indentation plus the text's bound; INT_MAX when it has none
            TOutlineNode* node;
            int indent;
        };
        std::vector<Unmeasured> unmeasured;
        std::vector<TOutlineNode*> stack;
        TOutlineNode* root = outline_.Root();
        for (size_t i = root->ChildCount(); i-- > 0;) stack.push_back(root->Child(i));
        while (!stack.empty()) {
            TOutlineNode* n = stack.back();
            stack.pop_back();
            const int indent = (n->Level() - 1 + rootCols + 1) * h + kTextGap;
            if (n->TextWidth >= 0) {
                widest = std::max(widest, indent + n->TextWidth + kTextGap + 1);
            } else {
                const int bound = TextWidthBound(n->Text());
                unmeasured.push_back({bound < 0 ? INT_MAX : indent + bound + kTextGap + 1, n, indent});
            }
            if (n->Expanded())
                for (size_t i = n->ChildCount(); i-- > 0;) stack.push_back(n->Child(i));
        }
        // The likeliest first: once a bound cannot beat the widest, no later one can.
        std::sort(unmeasured.begin(), unmeasured.end(),
                  [](const Unmeasured& a, const Unmeasured& b) { return a.bound > b.bound; });
        for (const Unmeasured& u : unmeasured) {
            if (u.bound <= widest) break;
            widest = std::max(widest, u.indent + TextWidthOf(u.node) + kTextGap + 1);
        }
        widest_ = widest;
        widestStale_ = false;
        sinceWidest_.restart();
    }
    return std::max(widest_, client);
}

void OutlineView::UpdateScrollBars() {
    rowsStale_ = false;
    UpdateVerticalRange();
    const int width = ColumnWidth();
    horizontalScrollBar()->setRange(0, std::max(0, width - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setSingleStep(RowHeight());
}

void OutlineView::UpdateVerticalRange() {
    const int h = RowHeight();
    const int page = std::max(1, viewport()->height() / h);
    outline_.SetPageRows(page);
    const int rows = outline_.Root()->VisibleCount();
    const bool vert = outline_.ScrollBars == ssVertical || outline_.ScrollBars == ssBoth;
    const bool horz = outline_.ScrollBars == ssHorizontal || outline_.ScrollBars == ssBoth;
    // Setting a policy lays the scroll area out again, even an unchanged one.
    const Qt::ScrollBarPolicy vPolicy = vert ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
    const Qt::ScrollBarPolicy hPolicy = horz ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
    if (verticalScrollBarPolicy() != vPolicy) setVerticalScrollBarPolicy(vPolicy);
    if (horizontalScrollBarPolicy() != hPolicy) setHorizontalScrollBarPolicy(hPolicy);
    verticalScrollBar()->setRange(0, std::max(0, rows - page));
    verticalScrollBar()->setPageStep(page);
    verticalScrollBar()->setSingleStep(1);
}

void OutlineView::EnsureCurrentVisible() {
    const int page = std::max(1, viewport()->height() / RowHeight());
    const int row = outline_.Row();
    QScrollBar* sb = verticalScrollBar();
    if (row < sb->value())
        sb->setValue(row);
    else if (row >= sb->value() + page)
        sb->setValue(row - page + 1);
}

const QPixmap& OutlineView::PictureOf(int slot) {
    const std::string& name = outline_.Picture(slot);
    if (loaded_[slot] != name || (pixmaps_[slot].isNull() && !name.empty())) {
        loaded_[slot] = name;
        pixmaps_[slot] = QPixmap();
        if (!name.empty()) {
            QPixmap pm(QStringLiteral(":/") + ToQ(name));
            // an opaque bottom-left pixel names the picture's transparent colour
            const QImage img = pm.toImage();
            if (!pm.isNull() && qAlpha(img.pixel(0, img.height() - 1)) == 255) {
                pm.setMask(pm.createMaskFromColor(QColor::fromRgb(img.pixel(0, img.height() - 1)), Qt::MaskInColor));
            }
            pixmaps_[slot] = pm;
        }
    }
    return pixmaps_[slot];
}

// ---- painting ----------------------------------------------------------------------------

void OutlineView::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    const QPalette& pal = palette();
    const int h = RowHeight();
    const int xoff = -horizontalScrollBar()->value();
    const int first = FirstVisibleRow();
    const int rows = outline_.Root()->VisibleCount();
    const int width = std::max(widest_, viewport()->width()); // as the last frame worked it out
    const int rootCols = (outline_.Options & ooDrawTreeRoot) ? 1 : 0;
    p.fillRect(viewport()->rect(), pal.color(QPalette::Base));

    QPen linePen(pal.color(QPalette::Mid));
    linePen.setStyle(Qt::DotLine);

    for (int r = first, y = 0; r < rows && y < viewport()->height(); ++r, y += h) {
        const OutlineRowLayout l = outline_.LayoutOfRow(r);
        if (!l.node) break;
        const QRect rowRect(xoff, y, width, h);
        const int textX = xoff + (l.indentColumns + 1) * h + kTextGap;
        const QString text = ToQ(l.node->Text());
        const int textW = TextWidthOf(l.node) + 2 * kTextGap;
        const QRect textRect(textX - kTextGap, y, textW, h);
        if (l.current) p.fillRect(textRect, pal.color(QPalette::Highlight));

        // tree lines: through the columns of ancestors that have more siblings below,
        // and the item's own connector from its parent's column
        p.setPen(linePen);
        const int mid = y + h / 2;
        for (int lev = 1; lev <= l.level; ++lev) {
            const int col = lev - 2 + rootCols;
            if (col < 0) continue;
            const int cx = xoff + col * h + h / 2;
            const bool last = l.isLast[static_cast<size_t>(lev - 1)];
            if (lev < l.level) {
                if (!last) p.drawLine(cx, y, cx, y + h - 1);
            } else {
                const bool firstOfAll = r == 0;
                p.drawLine(cx, firstOfAll ? mid : y, cx, last ? mid : y + h - 1);
                p.drawLine(cx, mid, xoff + l.indentColumns * h + (h - kPicture) / 2, mid);
            }
        }

        const QPixmap& pm = PictureOf(l.picture);
        if (!pm.isNull()) {
            const int px = xoff + l.indentColumns * h + (h - pm.width()) / 2;
            const int py = y + (h - pm.height()) / 2;
            if ((outline_.Options & ooStretchBitmaps) && pm.height() != h)
                p.drawPixmap(QRect(xoff + l.indentColumns * h, y, h, h), pm);
            else
                p.drawPixmap(px, py, pm);
        }

        p.setPen(pal.color(l.current ? QPalette::HighlightedText : QPalette::Text));
        p.drawText(QRect(textX, y, std::max(width, textW), h), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                   text);
        if (l.current && (outline_.Options & ooDrawFocusRect) && hasFocus()) {
            QPen focus(pal.color(QPalette::HighlightedText));
            focus.setStyle(Qt::DotLine);
            p.setPen(focus);
            p.setBrush(Qt::NoBrush);
            p.drawRect(textRect.adjusted(0, 0, -1, -1));
        }
        (void)rowRect;
    }
}

void OutlineView::scrollContentsBy(int, int) {
    // Every row is painted from the scroll position; the scroll is drawn with the next frame.
    RequestFrame();
}

void OutlineView::resizeEvent(QResizeEvent* e) {
    QAbstractScrollArea::resizeEvent(e);
    // A scroll bar that appears takes rows from the viewport after the frame that showed
    // it; the current row stays in sight if it was.
    const int h = RowHeight();
    const int oldPage = std::max(1, e->oldSize().height() / h);
    const int row = outline_.Row(), first = FirstVisibleRow();
    const bool inSight = row >= first && row < first + oldPage;
    UpdateScrollBars();
    if (inSight) EnsureCurrentVisible();
}

void OutlineView::changeEvent(QEvent* e) {
    QAbstractScrollArea::changeEvent(e);
    if (e->type() == QEvent::FontChange) {
        UpdateFont();
        ForgetTextWidths();
        RowsChanged();
    }
}

void OutlineView::focusInEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusInEvent(e);
    viewport()->update();
}

void OutlineView::focusOutEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusOutEvent(e);
    viewport()->update();
}

// ---- input -------------------------------------------------------------------------------

void OutlineView::mousePressEvent(QMouseEvent* e) {
    setFocus(Qt::MouseFocusReason);
    if (e->button() != Qt::LeftButton) return;
    const int row = RowAt(e->position().toPoint().y());
    if (row < 0) return;
    Guard([&] { outline_.MouseDown(row); });
}

void OutlineView::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    if (RowAt(e->position().toPoint().y()) < 0) return;
    Guard([&] { outline_.DblClick(); });
}

void OutlineView::keyPressEvent(QKeyEvent* e) {
    TShiftState shift = 0;
    if (e->modifiers() & Qt::ShiftModifier) shift |= ssShift;
    if (e->modifiers() & Qt::ControlModifier) shift |= ssCtrl;
    if (e->modifiers() & Qt::AltModifier) shift |= ssAlt;
    OutlineKey key = OutlineKey::Other;
    switch (e->key()) {
    case Qt::Key_Up: key = OutlineKey::Up; break;
    case Qt::Key_Down: key = OutlineKey::Down; break;
    case Qt::Key_PageUp: key = OutlineKey::PageUp; break;
    case Qt::Key_PageDown: key = OutlineKey::PageDown; break;
    case Qt::Key_Home: key = OutlineKey::Home; break;
    case Qt::Key_End: key = OutlineKey::End; break;
    case Qt::Key_Left: key = OutlineKey::Left; break;
    case Qt::Key_Right: key = OutlineKey::Right; break;
    case Qt::Key_Return:
    case Qt::Key_Enter: key = OutlineKey::Enter; break;
    case Qt::Key_Asterisk:
        if (e->modifiers() & Qt::KeypadModifier) key = OutlineKey::Multiply;
        break;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Escape:
        QAbstractScrollArea::keyPressEvent(e);
        return;
    default: break;
    }
    const QString text = e->text();
    Guard([&] {
        outline_.KeyDown(key, shift);
        if (text.size() == 1 && text[0].unicode() < 128) outline_.KeyPress(static_cast<char>(text[0].unicode()));
    });
    e->accept();
}

} // namespace quindle
