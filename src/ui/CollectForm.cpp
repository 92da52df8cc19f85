#include "ui/CollectForm.h"

#include "ui/Settings.h"

namespace quindle {

TCollectForm::TCollectForm(AppContext& ctx, UiServices& ui, TMainForm& main, QWidget* parent)
    : QDialog(parent), ctx_(ctx), ui_(ui), main_(main) {
    setWindowTitle(QStringLiteral("Collection Information"));
    setFixedSize(298, 350);
    if (auto d = ReadSetupInt("Display")) display_ = *d < -1 ? -1 : (*d > 1 ? 1 : *d);
}

} // namespace quindle
