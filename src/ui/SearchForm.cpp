#include "ui/SearchForm.h"

namespace quindle {

TSearchForm::TSearchForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Search Report"));
    setFixedSize(285, 232);
}

} // namespace quindle
