#pragma once
// TMatchesForm: the lines of one disk's record that hold the search word, opened from the
// search report (a disk's row), with "Save as CSV...".
#include <string>

#include "ui/shared/RecordLinesWindow.h"
#include "ui/search/ReportCsv.h"

namespace quindle {

// The lines of one disk's record that hold the search word.
class TMatchesForm : public TRecordLinesWindow {
    Q_OBJECT
public:
    TMatchesForm(AppContext& ctx, UiServices& ui, QWidget* parent = nullptr);

    TOvalButton* SaveButton = nullptr;

    // Lists the disk's matches of `word` and shows the window modally. A record that
    // cannot be read is reported instead.
    void ShowMatches(const TReportDisk& disk, const std::string& word);
    // Loads the list without showing it (the first half of ShowMatches).
    bool Load(const TReportDisk& disk, const std::string& word);
    QString CountText() const override;
    void SaveButtonClick();

private:
    TReportDisk disk_;
    std::string word_;
};

} // namespace quindle
