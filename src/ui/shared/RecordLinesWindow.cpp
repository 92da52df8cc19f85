#include "ui/shared/RecordLinesWindow.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QSplitter>
#include <QTableView>
#include <QTreeView>
#include <QVBoxLayout>

#include <utility>

#include "catalogue/DiskCatalogue.h"
#include "platform/Errors.h"
#include "ui/shared/CatalogueModels.h"
#include "ui/frames/EscapeRelease.h"
#include "ui/widgets/OvalButton.h"
#include "ui/shared/RecordLinesModel.h"
#include "ui/app/Resources.h"
#include "ui/shared/Text.h"

namespace quindle {

namespace {
constexpr TColor kPurple = 0x800080; // transparent colour of the Close glyph
constexpr int kRowHeight = 15;       // pixels per row, as in the report

} // namespace

void TRecordLinesWindow::ReportColours(QWidget* w) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::ToolTipBase));
    pal.setColor(QPalette::Text, pal.color(QPalette::ToolTipText));
    w->setPalette(pal);
}

// ---- the common window ------------------------------------------------------------------

TRecordLinesWindow::TRecordLinesWindow(AppContext& ctx, UiServices& ui, QWidget* parent)
    : QDialog(parent), ctx_(ctx), ui_(ui) {
    InitResources();
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    QFont f;
    f.setPixelSize(11);
    setFont(f);

    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(6, 6, 6, 6);
    layout_->setSpacing(4);
    NoticeLabel = new QLabel(this);
    NoticeLabel->setObjectName(QStringLiteral("NoticeLabel"));
    NoticeLabel->setWordWrap(true);
    NoticeLabel->setTextFormat(Qt::PlainText);
    NoticeLabel->hide();
    layout_->addWidget(NoticeLabel);
    auto* filterRow = new QHBoxLayout;
    auto* filterLabel = new QLabel(QStringLiteral("Filter:"), this);
    FilterEdit = new QLineEdit(this);
    FilterEdit->setObjectName(QStringLiteral("FilterEdit"));
    FilterEdit->setPlaceholderText(QStringLiteral("Part of a name"));
    FilterEdit->setClearButtonEnabled(true);
    filterLabel->setBuddy(FilterEdit);
    filterRow->addWidget(filterLabel);
    filterRow->addWidget(FilterEdit, 1);
    layout_->addLayout(filterRow);

    Model = new TRecordLinesModel(this);
    Entries = new TCatalogueRowsModel(this);
    LinesView = new QTableView(this);
    LinesView->setObjectName(QStringLiteral("LinesView"));
    LinesView->setModel(Model);
    LinesView->verticalHeader()->hide();
    // Rows of one fixed height: the view finds a row by arithmetic, whatever their number.
    LinesView->verticalHeader()->setMinimumSectionSize(kRowHeight);
    LinesView->verticalHeader()->setDefaultSectionSize(kRowHeight);
    LinesView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    LinesView->horizontalHeader()->setStretchLastSection(true);
    LinesView->horizontalHeader()->setHighlightSections(false);
    LinesView->setColumnWidth(TRecordLinesModel::FolderColumn, 140);
    LinesView->setSelectionBehavior(QAbstractItemView::SelectRows);
    LinesView->setSelectionMode(QAbstractItemView::SingleSelection);
    LinesView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    LinesView->setWordWrap(false);
    LinesView->setTabKeyNavigation(false);
    ReportColours(LinesView);

    CountLabel = new QLabel(this);
    CountLabel->setObjectName(QStringLiteral("CountLabel"));
    buttons_ = new QHBoxLayout;
    buttons_->addWidget(CountLabel, 1);
    CloseButton = NewButton(QStringLiteral("Close"));
    CloseButton->setObjectName(QStringLiteral("CloseButton"));
    CloseButton->SetGlyph(QImage(QStringLiteral(":/CLOSEGLYPH")));
    CloseButton->SetNumGlyphs(2);
    CloseButton->SetTransparentColor(kPurple);
    CloseButton->SetLayout(blGlyphLeft);
    CloseButton->OnClick = [this](QObject*) { done(mrCancel); };
    buttons_->addWidget(CloseButton);

    connect(FilterEdit, &QLineEdit::textChanged, this, [this](const QString& text) { FilterChanged(text); });
    // The window sees the key releases of all its controls first.
    QApplication::instance()->installEventFilter(this);
}

TRecordLinesWindow::~TRecordLinesWindow() { QApplication::instance()->removeEventFilter(this); }

void TRecordLinesWindow::SetCentre(QWidget* centre) {
    layout_->addWidget(centre, 1);
    layout_->addLayout(buttons_);
}

TOvalButton* TRecordLinesWindow::NewButton(const QString& caption) {
    auto* b = new TOvalButton(this);
    b->SetCaption(caption);
    b->setCursor(Qt::PointingHandCursor);
    b->setFixedSize(QFontMetrics(font()).horizontalAdvance(caption) > 50 ? 100 : 79, 30);
    return b;
}

QString TRecordLinesWindow::CountText() const { return QString(); }

bool TRecordLinesWindow::Detailed() const { return LinesView->model() == Entries; }

void TRecordLinesWindow::FilterChanged(const QString& text) {
    if (Detailed())
        Entries->SetFilter(text);
    else
        Model->SetFilter(text);
    UpdateCount();
}

void TRecordLinesWindow::ShowLines() {
    if (!Detailed()) return;
    LinesView->setSortingEnabled(false);
    LinesView->setModel(Model);
    LinesView->horizontalHeader()->setSortIndicatorShown(false);
    LinesView->setColumnWidth(TRecordLinesModel::FolderColumn, 140);
}

void TRecordLinesWindow::ShowEntries() {
    if (!Detailed()) {
        LinesView->setModel(Entries);
        LinesView->setColumnWidth(TCatalogueRowsModel::FolderColumn, 200);
        LinesView->setColumnWidth(TCatalogueRowsModel::NameColumn, 170);
        LinesView->setColumnWidth(TCatalogueRowsModel::SizeColumn, 64);
    }
    // The model is sorted already; the indicator shows how, and a click on a header sorts anew.
    LinesView->horizontalHeader()->setSortIndicator(Entries->SortColumn(), Entries->SortOrder());
    LinesView->setSortingEnabled(true);
    LinesView->horizontalHeader()->setSortIndicatorShown(true);
}

void TRecordLinesWindow::SetNotice(const QString& text) {
    NoticeLabel->setText(text);
    NoticeLabel->setVisible(!text.isEmpty());
}

void TRecordLinesWindow::UpdateCount() { CountLabel->setText(CountText()); }

int TRecordLinesWindow::RunModal() {
    FilterEdit->setFocus();
    const int result = ui_.ShowModal(this);
    // A million names are a lot of memory to keep for the next time.
    FilterEdit->clear();
    Model->Clear();
    Entries->Clear();
    return result;
}

void TRecordLinesWindow::showEvent(QShowEvent* event) {
    if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
}

void TRecordLinesWindow::keyPressEvent(QKeyEvent* event) {
    if (!SwallowEscapePress(event)) QDialog::keyPressEvent(event);
}

bool TRecordLinesWindow::eventFilter(QObject* watched, QEvent* event) {
    return EndOnEscapeRelease(this, mrCancel, watched, event, escPressedElsewhere_) ||
           QDialog::eventFilter(watched, event);
}

} // namespace quindle
