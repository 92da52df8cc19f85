#pragma once
// TSearchForm: the search report.
#include <QDialog>

namespace quindle {

class TSearchForm : public QDialog {
    Q_OBJECT
public:
    explicit TSearchForm(QWidget* parent = nullptr);
};

} // namespace quindle
