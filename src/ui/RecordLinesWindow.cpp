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
#include <QTreeView>
#include <QVBoxLayout>

#include <utility>

#include "catalogue/DiskCatalogue.h"
#include "platform/Errors.h"
#include "ui/CatalogueModels.h"
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
        TRecordText record(disk.recordPath);
        DiskCatalogue catalogue = OpenDiskCatalogue(disk.recordPath, ctx_.InfoSection);
        FilterEdit->clear();
        if (catalogue.catalogue) {
            auto index = std::make_shared<TCatalogueIndex>(std::move(*catalogue.catalogue));
            // The lines of the disk's information holding the word come first, as without details.
            std::vector<std::string> info;
            record.ForEachMatchingLine(word, ctx_.InfoSection, [&](const RecordLine& m) {
                if (m.info && !m.header) info.emplace_back(m.text);
            });
            std::vector<uint32_t> rows = index->Holding(word);
            Entries->sort(TCatalogueRowsModel::FolderColumn, Qt::AscendingOrder);
            Entries->SetRows(std::move(index), std::move(rows), std::move(info));
            Model->Clear();
            ShowEntries();
            SetNotice(QString());
        } else {
            Model->SetListing(TRecordListing::Matches(std::move(record), word, ctx_.InfoSection));
            Entries->Clear();
            ShowLines();
            SetNotice(NoDetailsText(catalogue.problem));
        }
    } catch (const std::exception& e) {
        ctx_.SetCursor(saved);
        ui_.ShowError(parentWidget(), ToQ(e.what()));
        return false;
    }
    ctx_.SetCursor(saved);
    setWindowTitle(QStringLiteral("Matches of \"") + NameToQ(word) + QStringLiteral("\" on ") + NameToQ(disk.title));
    resize(Detailed() ? QSize(720, 400) : QSize(480, 360));
    UpdateCount();
    LinesView->scrollToTop();
    return true;
}

void TMatchesForm::ShowMatches(const TReportDisk& disk, const std::string& word) {
    if (Load(disk, word)) RunModal();
}

QString TMatchesForm::CountText() const {
    if (Detailed()) {
        const auto shown = static_cast<uint64_t>(Entries->rowCount());
        if (Entries->Filter().isEmpty()) return Counted(shown, "match", "matches");
        return GroupedNumber(shown) + QStringLiteral(" of ") +
               Counted(static_cast<uint64_t>(Entries->UnfilteredCount()), "match", "matches");
    }
    const auto shown = static_cast<uint64_t>(Model->rowCount());
    if (Model->Filter().isEmpty()) return Counted(shown, "line", "lines");
    return GroupedNumber(shown) + QStringLiteral(" of ") +
           Counted(static_cast<uint64_t>(Model->UnfilteredCount()), "line", "lines");
}

void TMatchesForm::SaveButtonClick() {
    TReportCsv csv(/*withMatches=*/true);
    if (Detailed())
        csv.AddMatches(disk_, *Entries);
    else
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
    Tree = new TCatalogueTreeModel(this);
    FolderTree = new QTreeView(this);
    FolderTree->setObjectName(QStringLiteral("FolderTree"));
    // Rows of one height: the tree places a million folders without measuring them.
    FolderTree->setUniformRowHeights(true);
    FolderTree->setModel(Tree);
    FolderTree->setIconSize(QSize(13, 13));
    FolderTree->header()->setStretchLastSection(false);
    FolderTree->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    FolderTree->header()->resizeSection(1, 64);
    FolderTree->setSelectionMode(QAbstractItemView::SingleSelection);
    FolderTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ReportColours(FolderTree);
    FolderTree->hide();
    LinesView->setIconSize(QSize(13, 13));
    auto* split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(FolderList);
    split->addWidget(FolderTree);
    split->addWidget(LinesView);
    split->setStretchFactor(2, 1);
    split->setSizes({150, 300, 480});
    SetCentre(split);
    connect(FolderList, &QListWidget::currentRowChanged, this, [this](int row) { SelectFolder(row); });
    connect(FolderTree->selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& i) {
        if (i.isValid() && Tree->Index()) ShowFolderEntries(Tree->Folder(i));
    });
    // Enter or a double-click on an entry opens its folder (a folder: itself).
    connect(LinesView, &QAbstractItemView::activated, this, [this](const QModelIndex& i) {
        if (!Detailed() || !Entries->Index()) return;
        const int64_t e = Entries->Entry(i.row());
        if (e < 0) return;
        const auto entry = static_cast<uint32_t>(e);
        OpenFolder(Entries->Index()->IsFolder(entry) ? entry : Entries->Index()->Cat().parent[entry]);
    });
    resize(580, 380);
}

bool TBrowseForm::Load(const std::string& title, const std::string& recordPath) {
    const Cursor saved = ctx_.ScreenCursor();
    ctx_.SetCursor(Cursor::HourGlass);
    DiskCatalogue catalogue;
    try {
        TRecordText record(recordPath);
        // A record deleted since the list was made has nothing to show.
        if (!record.Present()) throw EFileError(Format("Cannot open file %s", recordPath));
        catalogue = OpenDiskCatalogue(recordPath, ctx_.InfoSection);
        if (!catalogue.catalogue) Model->SetListing(TRecordListing::Contents(std::move(record), ctx_.InfoSection));
    } catch (const std::exception& e) {
        ctx_.SetCursor(saved);
        ui_.ShowError(parentWidget(), ToQ(e.what()));
        return false;
    }
    setWindowTitle(QStringLiteral("Contents of ") + NameToQ(title));
    {
        const QSignalBlocker quiet(FilterEdit);
        FilterEdit->clear();
    }
    if (catalogue.catalogue) {
        auto index = std::make_shared<TCatalogueIndex>(std::move(*catalogue.catalogue));
        SetNotice(FiguresText(index->Figures()));
        Model->Clear();
        FolderList->hide();
        FolderTree->show();
        Entries->SetFoldersFirst(true);
        Entries->sort(TCatalogueRowsModel::NameColumn, Qt::AscendingOrder);
        Tree->SetIndex(std::move(index));
        ShowEntries();
        FolderTree->expand(Tree->IndexOf(0));
        OpenFolder(0);
        resize(900, 480);
    } else {
        Entries->Clear();
        Tree->SetIndex(nullptr);
        ShowLines();
        SetNotice(NoDetailsText(catalogue.problem));
        FolderTree->hide();
        FolderList->show();
        {
            const QSignalBlocker quiet(FolderList);
            FolderList->clear();
            FolderList->addItem(QStringLiteral("(all folders)"));
            for (size_t f = 0; f < Model->Listing().Folders().size(); ++f) FolderList->addItem(Model->FolderText(f));
        }
        FolderList->setCurrentRow(0);
        SelectFolder(0);
        resize(580, 380);
    }
    ctx_.SetCursor(saved);
    return true;
}

void TBrowseForm::ShowDisk(const std::string& title, const std::string& recordPath) {
    if (!Load(title, recordPath)) return;
    RunModal();
    FolderList->clear();
    Tree->SetIndex(nullptr);
}

void TBrowseForm::SelectFolder(int entry) {
    if (Detailed()) return;
    Model->SetFolder(entry - 1);
    // One folder's names need no folder column.
    LinesView->setColumnHidden(TRecordLinesModel::FolderColumn, Model->Folder() >= 0);
    LinesView->scrollToTop();
    UpdateCount();
}

void TBrowseForm::ShowFolderEntries(uint32_t folder) {
    const auto& index = Tree->Index();
    if (!index || folder >= index->Count()) return;
    folder_ = folder;
    if (!FilterEdit->text().isEmpty()) return; // the filter's rows stay until it is cleared
    const auto kids = index->Children(folder);
    Entries->SetRows(index, std::vector<uint32_t>(kids.begin(), kids.end()));
    // One folder's entries need no folder column.
    LinesView->setColumnHidden(TCatalogueRowsModel::FolderColumn, true);
    LinesView->scrollToTop();
    UpdateCount();
}

void TBrowseForm::OpenFolder(uint32_t folder) {
    if (!Tree->Index()) return;
    if (!FilterEdit->text().isEmpty()) FilterEdit->clear();
    const QModelIndex i = Tree->IndexOf(folder);
    FolderTree->scrollTo(i); // expands the folders above it
    FolderTree->setCurrentIndex(i);
    ShowFolderEntries(folder);
}

void TBrowseForm::FilterChanged(const QString& text) {
    if (!Detailed()) {
        TRecordLinesWindow::FilterChanged(text);
        return;
    }
    const auto& index = Tree->Index();
    if (!index) return;
    if (text.isEmpty()) {
        ShowFolderEntries(folder_);
        return;
    }
    // The whole disk: every entry whose name holds the text, with its folder.
    const Cursor saved = ctx_.ScreenCursor();
    ctx_.SetCursor(Cursor::HourGlass);
    Entries->SetRows(index, index->FilterAll(FromQ(text)));
    ctx_.SetCursor(saved);
    LinesView->setColumnHidden(TCatalogueRowsModel::FolderColumn, false);
    LinesView->scrollToTop();
    UpdateCount();
}

QString TBrowseForm::CountText() const {
    if (Detailed()) {
        const auto& index = Tree->Index();
        const qint64 all = index ? static_cast<qint64>(index->Count()) - 1 : 0;
        if (!FilterEdit->text().isEmpty())
            return QStringLiteral("%1 of %2 entries hold the text")
                .arg(GroupedNumber(static_cast<uint64_t>(Entries->rowCount())), GroupedNumber(static_cast<uint64_t>(all)));
        return Counted(static_cast<uint64_t>(Entries->rowCount()), "item", "items") + QStringLiteral(" in ") +
               (index ? NameToQ(index->EntryPath(folder_)) : QString());
    }
    const auto folders = static_cast<uint64_t>(Model->Listing().Folders().size());
    const auto shown = static_cast<uint64_t>(Model->rowCount());
    if (!Model->Filter().isEmpty())
        return GroupedNumber(shown) + QStringLiteral(" of ") +
               Counted(static_cast<uint64_t>(Model->UnfilteredCount()), "name", "names");
    if (Model->Folder() < 0) return Counted(shown, "name", "names") + QStringLiteral(" in ") + Counted(folders, "folder", "folders");
    return Counted(shown, "name", "names");
}

} // namespace quindle
