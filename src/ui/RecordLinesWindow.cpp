#include "ui/RecordLinesWindow.h"

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
#include <QVBoxLayout>

#include <utility>

#include "platform/Errors.h"
#include "ui/EscapeRelease.h"
#include "ui/OvalButton.h"
#include "ui/RecordLinesModel.h"
#include "ui/Resources.h"
#include "ui/Text.h"

namespace quindle {

namespace {
constexpr TColor kPurple = 0x800080; // transparent colour of the Close glyph
constexpr int kRowHeight = 15;       // pixels per row, as in the report

// The tooltip colours of the report's grid, for the lists that continue it.
void ReportColours(QWidget* w) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::ToolTipBase));
    pal.setColor(QPalette::Text, pal.color(QPalette::ToolTipText));
    w->setPalette(pal);
}
} // namespace

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

    connect(FilterEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
        Model->SetFilter(text);
        UpdateCount();
    });
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

void TRecordLinesWindow::UpdateCount() { CountLabel->setText(CountText()); }

int TRecordLinesWindow::RunModal() {
    FilterEdit->setFocus();
    const int result = ui_.ShowModal(this);
    // A million names are a lot of memory to keep for the next time.
    FilterEdit->clear();
    Model->Clear();
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

// ---- matches ------------------------------------------------------------------------------

TMatchesForm::TMatchesForm(AppContext& ctx, UiServices& ui, QWidget* parent) : TRecordLinesWindow(ctx, ui, parent) {
    setObjectName(QStringLiteral("MatchesForm"));
    SetCentre(LinesView);
    SaveButton = NewButton(QStringLiteral("Save as CSV..."));
    SaveButton->setObjectName(QStringLiteral("SaveButton"));
    SaveButton->setToolTip(QStringLiteral("Save the lines shown as a CSV file"));
    SaveButton->OnClick = [this](QObject*) { SaveButtonClick(); };
    ButtonRow()->insertWidget(1, SaveButton);
    resize(480, 360);
}

bool TMatchesForm::Load(const TReportDisk& disk, const std::string& word) {
    disk_ = disk;
    word_ = word;
    const Cursor saved = ctx_.ScreenCursor();
    ctx_.SetCursor(Cursor::HourGlass);
    try {
        Model->SetListing(TRecordListing::Matches(TRecordText(disk.recordPath), word, ctx_.InfoSection));
    } catch (const std::exception& e) {
        ctx_.SetCursor(saved);
        ui_.ShowError(parentWidget(), ToQ(e.what()));
        return false;
    }
    ctx_.SetCursor(saved);
    setWindowTitle(QStringLiteral("Matches of \"") + NameToQ(word) + QStringLiteral("\" on ") + NameToQ(disk.title));
    FilterEdit->clear();
    UpdateCount();
    LinesView->scrollToTop();
    return true;
}

void TMatchesForm::ShowMatches(const TReportDisk& disk, const std::string& word) {
    if (Load(disk, word)) RunModal();
}

QString TMatchesForm::CountText() const {
    if (Model->Filter().isEmpty()) return QStringLiteral("%1 line(s)").arg(Model->rowCount());
    return QStringLiteral("%1 of %2 line(s)").arg(Model->rowCount()).arg(Model->UnfilteredCount());
}

void TMatchesForm::SaveButtonClick() {
    TReportCsv csv(/*withMatches=*/true);
    csv.AddMatches(disk_, *Model);
    SaveReportCsv(ctx_, ui_, this, CsvFileNameFor(word_), csv);
}

// ---- browse -------------------------------------------------------------------------------

TBrowseForm::TBrowseForm(AppContext& ctx, UiServices& ui, QWidget* parent) : TRecordLinesWindow(ctx, ui, parent) {
    setObjectName(QStringLiteral("BrowseForm"));
    FolderList = new QListWidget(this);
    FolderList->setObjectName(QStringLiteral("FolderList"));
    FolderList->setUniformItemSizes(true);
    ReportColours(FolderList);
    auto* split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(FolderList);
    split->addWidget(LinesView);
    split->setStretchFactor(1, 1);
    split->setSizes({150, 410});
    SetCentre(split);
    connect(FolderList, &QListWidget::currentRowChanged, this, [this](int row) { SelectFolder(row); });
    resize(580, 380);
}

bool TBrowseForm::Load(const std::string& title, const std::string& recordPath) {
    const Cursor saved = ctx_.ScreenCursor();
    ctx_.SetCursor(Cursor::HourGlass);
    try {
        TRecordText record(recordPath);
        // A record deleted since the list was made has nothing to show.
        if (!record.Present()) throw EFileError(Format("Cannot open file %s", recordPath));
        Model->SetListing(TRecordListing::Contents(std::move(record), ctx_.InfoSection));
    } catch (const std::exception& e) {
        ctx_.SetCursor(saved);
        ui_.ShowError(parentWidget(), ToQ(e.what()));
        return false;
    }
    ctx_.SetCursor(saved);
    setWindowTitle(QStringLiteral("Contents of ") + NameToQ(title));
    FilterEdit->clear();
    {
        const QSignalBlocker quiet(FolderList);
        FolderList->clear();
        FolderList->addItem(QStringLiteral("(all folders)"));
        for (size_t f = 0; f < Model->Listing().Folders().size(); ++f) FolderList->addItem(Model->FolderText(f));
    }
    FolderList->setCurrentRow(0);
    SelectFolder(0);
    return true;
}

void TBrowseForm::ShowDisk(const std::string& title, const std::string& recordPath) {
    if (!Load(title, recordPath)) return;
    RunModal();
    FolderList->clear();
}

void TBrowseForm::SelectFolder(int entry) {
    Model->SetFolder(entry - 1);
    // One folder's names need no folder column.
    LinesView->setColumnHidden(TRecordLinesModel::FolderColumn, Model->Folder() >= 0);
    LinesView->scrollToTop();
    UpdateCount();
}

QString TBrowseForm::CountText() const {
    const int folders = static_cast<int>(Model->Listing().Folders().size());
    if (!Model->Filter().isEmpty())
        return QStringLiteral("%1 of %2 name(s)").arg(Model->rowCount()).arg(Model->UnfilteredCount());
    if (Model->Folder() < 0) return QStringLiteral("%1 name(s) in %2 folder(s)").arg(Model->rowCount()).arg(folders);
    return QStringLiteral("%1 name(s)").arg(Model->rowCount());
}

} // namespace quindle
