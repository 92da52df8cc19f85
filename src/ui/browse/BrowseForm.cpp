#include "ui/browse/BrowseForm.h"

#include <QHeaderView>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSplitter>
#include <QTableView>
#include <QTreeView>

#include "catalogue/DiskCatalogue.h"
#include "platform/Errors.h"
#include "ui/shared/CatalogueModels.h"
#include "ui/shared/Formats.h"
#include "ui/widgets/OvalButton.h"
#include "ui/shared/RecordLinesModel.h"
#include "ui/shared/Text.h"

namespace quindle {

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
        auto index = std::make_shared<TDiskBrowseView>(std::move(*catalogue.catalogue));
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
