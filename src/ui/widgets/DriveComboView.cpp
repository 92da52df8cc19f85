#include "ui/widgets/DriveComboView.h"

#include <QAbstractItemDelegate>
#include <QAbstractItemView>
#include <QPainter>
#include <QSignalBlocker>
#include <QStyleOptionComboBox>
#include <QStylePainter>

#include "ui/shared/Text.h"

namespace quindle {

namespace {

constexpr int kGlyphRole = Qt::UserRole + 1;

class DriveItemDelegate : public QAbstractItemDelegate {
public:
    using QAbstractItemDelegate::QAbstractItemDelegate;

    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const auto glyph = static_cast<DriveGlyph>(index.data(kGlyphRole).toInt());
        DriveComboView::PaintItem(*p, option.rect, DriveComboView::GlyphPixmap(glyph),
                                  index.data(Qt::DisplayRole).toString(),
                                  (option.state & QStyle::State_Selected) != 0, option.palette);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QFontMetrics fm(option.font);
        const int w = TDriveComboBox::kGlyphWidth + 6 + fm.horizontalAdvance(index.data(Qt::DisplayRole).toString()) + 4;
        return QSize(w, TDriveComboBox::ItemHeightFor(fm.height()));
    }
};

} // namespace

DriveComboView::DriveComboView(TDriveComboBox& model, QWidget* parent) : QComboBox(parent), model_(model) {
    setEditable(false);
    setIconSize(QSize(TDriveComboBox::kGlyphWidth, TDriveComboBox::kGlyphHeight));
    setItemDelegate(new DriveItemDelegate(this));
    model_.AddObserver(this);
    Rebuild();
    // Only a pick by the user reaches the model; programmatic changes come from it.
    connect(this, &QComboBox::activated, this, [this](int index) { model_.UserSelect(index); });
}

DriveComboView::~DriveComboView() { model_.RemoveObserver(this); }

QPixmap DriveComboView::GlyphPixmap(DriveGlyph glyph) {
    const char* name = nullptr;
    switch (glyph) {
    case DriveGlyph::Floppy: name = ":/FLOPPY"; break;
    case DriveGlyph::Hard: name = ":/HARD"; break;
    case DriveGlyph::Network: name = ":/NETWORK"; break;
    case DriveGlyph::CDRom: name = ":/CDROM"; break;
    case DriveGlyph::Ram: name = ":/RAM"; break;
    case DriveGlyph::None: return QPixmap();
    }
    return QPixmap(QString::fromLatin1(name));
}

void DriveComboView::PaintItem(QPainter& p, const QRect& rect, const QPixmap& glyph, const QString& text,
                               bool selected, const QPalette& palette) {
    p.save();
    p.fillRect(rect, palette.brush(selected ? QPalette::Highlight : QPalette::Base));
    int glyphWidth = TDriveComboBox::kGlyphWidth; // assumed when an item has no picture
    if (!glyph.isNull()) {
        glyphWidth = glyph.width();
        p.drawPixmap(rect.left() + 2, rect.top() + (rect.height() - glyph.height()) / 2, glyph);
    }
    QRect textRect = rect;
    textRect.setLeft(rect.left() + glyphWidth + 6);
    p.setPen(palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    p.restore();
}

void DriveComboView::Rebuild() {
    const QSignalBlocker block(this);
    clear();
    for (int i = 0; i < model_.Count(); ++i) {
        const DriveGlyph g = model_.Glyph(i);
        addItem(QIcon(GlyphPixmap(g)), ToQ(model_.Items()[static_cast<size_t>(i)]));
        setItemData(i, static_cast<int>(g), kGlyphRole);
    }
    setCurrentIndex(model_.ItemIndex());
}

void DriveComboView::SyncSelection() {
    const QSignalBlocker block(this);
    setCurrentIndex(model_.ItemIndex());
    update();
}

void DriveComboView::DriveListChanged() { Rebuild(); }

void DriveComboView::DriveSelectionChanged() { SyncSelection(); }

QRect DriveComboView::TextRect() const {
    QStyleOptionComboBox opt;
    initStyleOption(&opt);
    QRect r = style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, this);
    const int i = currentIndex();
    const QPixmap glyph = i < 0 ? QPixmap() : GlyphPixmap(static_cast<DriveGlyph>(itemData(i, kGlyphRole).toInt()));
    r.setLeft(r.left() + (glyph.isNull() ? TDriveComboBox::kGlyphWidth : glyph.width()) + 6);
    return r;
}

void DriveComboView::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionComboBox opt;
    initStyleOption(&opt);
    opt.currentText.clear();
    opt.currentIcon = QIcon();
    painter.drawComplexControl(QStyle::CC_ComboBox, opt);
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, this);
    const int i = currentIndex();
    if (i < 0) return;
    const auto glyph = static_cast<DriveGlyph>(itemData(i, kGlyphRole).toInt());
    PaintItem(painter, field, GlyphPixmap(glyph), itemText(i), hasFocus(), palette());
}

} // namespace quindle
