#include "ui/search/MatchesForm.h"

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
            auto index = std::make_shared<TDiskBrowseView>(std::move(*catalogue.catalogue));
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

} // namespace quindle
