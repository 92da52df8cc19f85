#include "ui/SearchForm.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScreen>
#include <QTableWidget>

#include "ui/OvalButton.h"
#include "ui/Resources.h"
#include "ui/UiServices.h"

namespace quindle {

namespace {
constexpr TColor kPurple = 0x800080; // transparent colour of the Close glyph
constexpr int kRowHeight = 15;       // pixels per grid row
} // namespace

TSearchForm::TSearchForm(QWidget* parent) : QDialog(parent) {
    InitResources();
    setObjectName(QStringLiteral("SearchForm"));
    setWindowTitle(QStringLiteral("Search Report"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(285, 232);
    QFont f;
    f.setPixelSize(11);
    setFont(f);

    SearchSG = new QTableWidget(1, 2, this);
    SearchSG->setObjectName(QStringLiteral("SearchSG"));
    SearchSG->setGeometry(4, 4, 278, 189);
    SearchSG->setFrameShape(QFrame::NoFrame);
    SearchSG->horizontalHeader()->hide();
    SearchSG->verticalHeader()->hide();
    SearchSG->setColumnWidth(0, 181);
    SearchSG->setColumnWidth(1, 64);
    SearchSG->verticalHeader()->setMinimumSectionSize(kRowHeight);
    SearchSG->verticalHeader()->setDefaultSectionSize(kRowHeight);
    SearchSG->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    SearchSG->setShowGrid(true);
    SearchSG->setEditTriggers(QAbstractItemView::NoEditTriggers);
    SearchSG->setSelectionMode(QAbstractItemView::SingleSelection);
    SearchSG->setWordWrap(false);
    QPalette pal = SearchSG->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::ToolTipBase));
    pal.setColor(QPalette::Text, pal.color(QPalette::ToolTipText));
    SearchSG->setPalette(pal);

    CloseRepButton = new TOvalButton(this);
    CloseRepButton->setObjectName(QStringLiteral("CloseRepButton"));
    CloseRepButton->setGeometry(200, 199, 79, 30);
    CloseRepButton->SetCaption(QStringLiteral("Close"));
    CloseRepButton->setCursor(Qt::PointingHandCursor);
    CloseRepButton->SetGlyph(QImage(QStringLiteral(":/CLOSEGLYPH")));
    CloseRepButton->SetNumGlyphs(2);
    CloseRepButton->SetTransparentColor(kPurple);
    CloseRepButton->SetLayout(blGlyphLeft);
    CloseRepButton->OnClick = [this](QObject*) { CloseRepButtonClick(); };

    // The window sees the key releases of all its controls first.
    QApplication::instance()->installEventFilter(this);
}

TSearchForm::~TSearchForm() { QApplication::instance()->removeEventFilter(this); }

int TSearchForm::RowCount() const { return SearchSG->rowCount(); }

void TSearchForm::SetRowCount(int rows) { SearchSG->setRowCount(rows); }

QString TSearchForm::Cell(int col, int row) const {
    const QTableWidgetItem* item = SearchSG->item(row, col);
    return item ? item->text() : QString();
}

void TSearchForm::SetCell(int col, int row, const QString& text) {
    if (QTableWidgetItem* item = SearchSG->item(row, col))
        item->setText(text);
    else
        SearchSG->setItem(row, col, new QTableWidgetItem(text));
}

void TSearchForm::CloseRepButtonClick() { done(mrCancel); }

void TSearchForm::keyPressEvent(QKeyEvent* event) {
    // Esc ends the report on its release (see eventFilter), not on the press as dialogs do.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TSearchForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyRelease) {
        auto* w = qobject_cast<QWidget*>(watched);
        auto* k = static_cast<QKeyEvent*>(event);
        if (w && w->window() == this && k->key() == Qt::Key_Escape && !k->isAutoRepeat()) {
            done(mrCancel);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TSearchForm::showEvent(QShowEvent* event) {
    SearchSG->setCurrentItem(nullptr);
    SearchSG->scrollToTop();
    if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
}

} // namespace quindle
