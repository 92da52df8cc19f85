#pragma once
// TCollectForm: the package dialog.
#include <QDialog>

#include "app/AppContext.h"
#include "ui/UiServices.h"

namespace quindle {

class TMainForm;

class TCollectForm : public QDialog {
    Q_OBJECT
public:
    TCollectForm(AppContext& ctx, UiServices& ui, TMainForm& main, QWidget* parent = nullptr);
    enum class Mode { View, Add, Update, Remove };
    // Sets the controls for one of the four Package commands.
    void PrepareMode(Mode mode) { (void)mode; }
    // Index of the Display choice: 0 "Titles", 1 "Volume Serials", -1 none.
    int DisplayIndex() const { return display_; }

private:
    AppContext& ctx_;
    UiServices& ui_;
    TMainForm& main_;
    int display_ = 0;
};

} // namespace quindle
