#pragma once
// TSearchForm: the search report. One row per searched disk (its list text and the
// number of occurrences found); the "Disk" / "Found" header is the grid's first ordinary
// row and scrolls with the others. Activating a disk's row (double-click or Enter) lists
// the lines of its record that hold the word (TMatchesForm); the report saves as CSV.
#include <QDialog>
#include <string>
#include <vector>

#include "app/AppContext.h"
#include "ui/search/ReportCsv.h"
#include "ui/app/UiServices.h"

class QCheckBox;
class QTableWidget;

namespace quindle {

class TMatchesForm;
class TOvalButton;

class TSearchForm : public QDialog {
    Q_OBJECT
public:
    TSearchForm(AppContext& ctx, UiServices& ui, QWidget* parent = nullptr);
    ~TSearchForm() override;

    QTableWidget* SearchSG = nullptr;
    TOvalButton* CloseRepButton = nullptr;
    QCheckBox* WithMatchesBox = nullptr; // the CSV file lists every match too
    TOvalButton* SaveRepButton = nullptr;
    TMatchesForm* MatchesForm = nullptr;

    // The grid as the search fills it.
    int RowCount() const;
    void SetRowCount(int rows);
    QString Cell(int col, int row) const;
    void SetCell(int col, int row, const QString& text);

    // The searched word, and the disk of each row from 1 on: the search sets them with
    // the rows. Rows beyond the row count are forgotten.
    void SetWord(const std::string& word) { word_ = word; }
    const std::string& Word() const { return word_; }
    void SetDisk(int row, const TReportDisk& disk);
    const TReportDisk* Disk(int row) const;

    void CloseRepButtonClick();
    void SaveRepButtonClick();
    // Lists the matches of the disk in `row`; the header row has none.
    void DiskActivated(int row);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AppContext& ctx_;
    UiServices& ui_;
    std::string word_;
    bool escPressedElsewhere_ = false; // the last Esc press went to another window
    std::vector<TReportDisk> disks_; // disks_[r - 1] is row r's
};

} // namespace quindle
