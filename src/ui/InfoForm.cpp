#include "ui/InfoForm.h"

namespace quindle {

TInfoForm::TInfoForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Information"));
    setFixedSize(297, 202);
}

} // namespace quindle
