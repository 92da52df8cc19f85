#include "ui/search/PackageSearch.h"

#include <QComboBox>

#include "platform/CodePage.h"
#include "platform/Errors.h"
#include "records/DiskRecord.h"
#include "search/CountOccurrences.h"
#include "ui/package/CollectForm.h"
#include "ui/main/MainForm.h"
#include "ui/search/SearchForm.h"
#include "ui/shared/Text.h"

namespace quindle {

void RunPackageSearch(AppContext& ctx, UiServices& ui, TMainForm& main, TCollectForm& collect, TSearchForm& report) {
    const Cursor saved = ctx.ScreenCursor();
    ctx.SetCursor(Cursor::HourGlass);

    QComboBox* box = main.SearchEdit;
    const QString text = box->currentText();
    if (!text.isEmpty()) {
        // The history holds a word once, in the case of its first search.
        bool known = false;
        for (int i = 0; i < box->count() && !known; ++i)
            known = SameText(FromQ(box->itemText(i)), FromQ(text));
        if (!known) {
            box->addItem(text);
            box->setCurrentIndex(-1);
            box->setEditText(text); // adding an entry must not change the box's text
        }
    }
    if (text.isEmpty()) {
        ctx.SetCursor(saved);
        return;
    }

    const std::string word = FromQ(text);
    ctx.Log("Searching for \"" + word + "\"");
    ctx.Log("Please wait...");

    report.SetRowCount(1);
    report.SetWord(word);
    report.SetCell(0, 0, QStringLiteral("Disk"));
    report.SetCell(1, 0, QStringLiteral("Found"));

    QString error;
    try {
        TOccurrenceCounter counter; // one buffer for the whole package
        for (int i = 0; i < collect.DiskCount(); ++i) {
            if (!collect.DiskChecked(i)) continue;
            const std::string path = ctx.PackageFolder + collect.DiskFileName(i);
            int32_t n = 0;
            try {
                n = counter.Count(path, word);
            } catch (const EFileError& e) {
                // A record that cannot be read is left out of the report; the others are searched.
                ctx.Log(e.what());
                continue;
            }
            const int r = report.RowCount();
            report.SetRowCount(r + 1);
            report.SetCell(0, r, collect.DiskText(i));
            report.SetCell(1, r, QString::number(n));
            report.SetDisk(r, {collect.DiskTextBytes(i), SerialOfRecordName(collect.DiskFileName(i)), path, n});
        }
    } catch (const std::exception& e) {
        // Reported once the report is closed.
        error = ToQ(e.what());
    }

    ctx.Log("Search is complete");
    ctx.SetCursor(saved);
    ui.ShowModal(&report);
    if (!error.isEmpty()) ui.ShowError(&main, error);
}

} // namespace quindle
