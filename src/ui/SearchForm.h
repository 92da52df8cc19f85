#pragma once
// TSearchForm: the search report. One row per searched disk (its list text and the
// number of occurrences found); the "Disk" / "Found" header is the grid's first ordinary
// row and scrolls with the others.
#include <QDialog>

class QTableWidget;

namespace quindle {

class TOvalButton;

class TSearchForm : public QDialog {
    Q_OBJECT
public:
    explicit TSearchForm(QWidget* parent = nullptr);
    ~TSearchForm() override;

    QTableWidget* SearchSG = nullptr;
    TOvalButton* CloseRepButton = nullptr;

    // The grid as the search fills it.
    int RowCount() const;
    void SetRowCount(int rows);
    QString Cell(int col, int row) const;
    void SetCell(int col, int row, const QString& text);

    void CloseRepButtonClick();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace quindle
