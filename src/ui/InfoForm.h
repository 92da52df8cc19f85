#pragma once
// TInfoForm: the about box.
#include <QDialog>

namespace quindle {

class TInfoForm : public QDialog {
    Q_OBJECT
public:
    explicit TInfoForm(QWidget* parent = nullptr);
};

} // namespace quindle
