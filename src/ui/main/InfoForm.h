#pragma once
// TInfoForm: the about box — the program's name and picture, the copyright line, links to
// the home page and the author's mail address, and a Close button.
#include <QDialog>

#include "ui/app/UiServices.h"

class QFrame;
class QLabel;
class QTabWidget;
class QWidget;

namespace quindle {

class TOvalButton;
class TURLLabel;

inline constexpr const char* kCopyright = "\u00A9 2026 the Quindle developers";

class TInfoForm : public QDialog {
    Q_OBJECT
public:
    explicit TInfoForm(UiServices& ui, QWidget* parent = nullptr);

    // The About command always opens on the first page.
    void ShowFirstPage();
    void OvalButton1Click();

    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QFrame* Panel1 = nullptr;
    QLabel *Image1 = nullptr, *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *Label4 = nullptr;
    TURLLabel *URLLabel1 = nullptr, *URLLabel2 = nullptr;
    TOvalButton* OvalButton1 = nullptr;
};

} // namespace quindle
