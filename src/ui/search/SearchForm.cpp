#include "ui/search/SearchForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScreen>
#include <QTableWidget>

#include <utility>

#include "catalogue/DiskCatalogue.h"
#include "ui/shared/CatalogueModels.h"
#include "ui/frames/EscapeRelease.h"
#include "ui/widgets/OvalButton.h"
#include "ui/shared/RecordLinesModel.h"
#include "ui/search/MatchesForm.h"
#include "ui/app/Resources.h"
#include "ui/app/UiServices.h"

namespace quindle {

namespace {
constexpr TColor kPurple = 0x800080; // transparent colour of the Close glyph
constexpr int kRowHeight = 15;       // pixels per grid row
} // namespace

TSearchForm::TSearchForm(AppContext& ctx, UiServices& ui, QWidget* parent) : QDialog(parent), ctx_(ctx), ui_(ui) {
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

    // Enter on a row, or a double-click, lists that disk's matches.
    connect(SearchSG, &QAbstractItemView::activated, this, [this](const QModelIndex& i) { DiskActivated(i.row()); });
    SearchSG->setToolTip(QStringLiteral("Double-click a disk, or press Enter, to list its matches"));

    WithMatchesBox = new QCheckBox(QStringLiteral("With matches"), this);
    WithMatchesBox->setObjectName(QStringLiteral("WithMatchesBox"));
    WithMatchesBox->setGeometry(8, 206, 100, 17);
    WithMatchesBox->setToolTip(QStringLiteral("Also save the folder and name of every match"));
    SaveRepButton = new TOvalButton(this);
    SaveRepButton->setObjectName(QStringLiteral("SaveRepButton"));
    SaveRepButton->setGeometry(112, 199, 84, 30);
    SaveRepButton->SetCaption(QStringLiteral("Save CSV..."));
    SaveRepButton->setToolTip(QStringLiteral("Save the report as a CSV file"));
    SaveRepButton->setCursor(Qt::PointingHandCursor);
    SaveRepButton->OnClick = [this](QObject*) { SaveRepButtonClick(); };

    MatchesForm = new TMatchesForm(ctx_, ui_, this);

    // The window sees the key releases of all its controls first.
    QApplication::instance()->installEventFilter(this);
}

TSearchForm::~TSearchForm() { QApplication::instance()->removeEventFilter(this); }

int TSearchForm::RowCount() const { return SearchSG->rowCount(); }

void TSearchForm::SetRowCount(int rows) {
    SearchSG->setRowCount(rows);
    if (static_cast<int>(disks_.size()) > rows - 1) disks_.resize(rows > 1 ? static_cast<size_t>(rows - 1) : 0);
}

void TSearchForm::SetDisk(int row, const TReportDisk& disk) {
    if (row < 1) return;
    if (disks_.size() < static_cast<size_t>(row)) disks_.resize(static_cast<size_t>(row));
    disks_[static_cast<size_t>(row - 1)] = disk;
}

const TReportDisk* TSearchForm::Disk(int row) const {
    if (row < 1 || row >= RowCount() || static_cast<size_t>(row) > disks_.size()) return nullptr;
    const TReportDisk& d = disks_[static_cast<size_t>(row - 1)];
    return d.recordPath.empty() ? nullptr : &d;
}

void TSearchForm::DiskActivated(int row) {
    if (const TReportDisk* d = Disk(row)) MatchesForm->ShowMatches(*d, word_);
}

void TSearchForm::SaveRepButtonClick() {
    const bool withMatches = WithMatchesBox->isChecked();
    TReportCsv csv(withMatches);
    const Cursor saved = ctx_.ScreenCursor();
    ctx_.SetCursor(Cursor::HourGlass);
    TRecordLinesModel matches;
    TCatalogueRowsModel entries;
    for (int r = 1; r < RowCount(); ++r) {
        const TReportDisk* d = Disk(r);
        if (!d) continue;
        if (!withMatches) {
            csv.AddDisk(*d);
            continue;
        }
        try {
            TRecordText record(d->recordPath);
            // A disk with a catalogue lists its entries with their paths, sizes and dates.
            DiskCatalogue catalogue = d->count > 0 ? OpenDiskCatalogue(d->recordPath, ctx_.InfoSection) : DiskCatalogue();
            if (catalogue.catalogue) {
                auto index = std::make_shared<TDiskBrowseView>(std::move(*catalogue.catalogue));
                std::vector<std::string> info;
                record.ForEachMatchingLine(word_, ctx_.InfoSection, [&](const RecordLine& m) {
                    if (m.info && !m.header) info.emplace_back(m.text);
                });
                std::vector<uint32_t> rows = index->Holding(word_);
                entries.SetRows(std::move(index), std::move(rows), std::move(info));
                csv.AddMatches(*d, entries);
                entries.Clear();
                continue;
            }
            matches.SetListing(TRecordListing::Matches(std::move(record), word_, ctx_.InfoSection));
        } catch (const std::exception& e) {
            // The search could read it; now it cannot: its line says what it found then.
            ctx_.Log(e.what());
            matches.Clear();
        }
        csv.AddMatches(*d, matches);
    }
    matches.Clear();
    ctx_.SetCursor(saved);
    SaveReportCsv(ctx_, ui_, this, CsvFileNameFor(word_), csv);
}

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
    if (!SwallowEscapePress(event)) QDialog::keyPressEvent(event);
}

bool TSearchForm::eventFilter(QObject* watched, QEvent* event) {
    return EndOnEscapeRelease(this, mrCancel, watched, event, escPressedElsewhere_) ||
           QDialog::eventFilter(watched, event);
}

void TSearchForm::showEvent(QShowEvent* event) {
    SearchSG->setCurrentItem(nullptr);
    SearchSG->scrollToTop();
    if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
}

} // namespace quindle
