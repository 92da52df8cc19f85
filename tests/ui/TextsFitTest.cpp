#include <QAbstractButton>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "ScriptedUi.h"
#include "ui/Application.h"
#include "ui/OvalButton.h"

using namespace quindle;

// Every fixed text of every window fits its control in the desktop's sans font (DejaVu
// Sans on a stock Debian desktop, which stands in for "MS Sans Serif").
TEST(TextsFit, EveryLabelButtonAndGroupTextFitsItsControl) {
    QTemporaryDir progDir;
    test::ScriptedUi ui;
    Application app(ui, progDir.path() + "/quindle");
    EXPECT_EQ(QFontInfo(app.InfoForm->Label4->font()).family(), "DejaVu Sans");
    int checked = 0;
    for (QWidget* window : {static_cast<QWidget*>(app.MainForm.get()), static_cast<QWidget*>(app.CollectForm.get()),
                            static_cast<QWidget*>(app.InfoForm.get()), static_cast<QWidget*>(app.SearchForm.get())}) {
        for (QLabel* l : window->findChildren<QLabel*>()) {
            if (l->text().isEmpty()) continue;
            const QFontMetrics fm(l->font());
            EXPECT_LE(fm.horizontalAdvance(l->text()), l->contentsRect().width()) << qPrintable(l->text());
            EXPECT_LE(fm.height(), l->contentsRect().height() + 3) << qPrintable(l->text());
            ++checked;
        }
        for (QGroupBox* g : window->findChildren<QGroupBox*>()) {
            EXPECT_LE(QFontMetrics(g->font()).horizontalAdvance(g->title()) + 16, g->width()) << qPrintable(g->title());
            ++checked;
        }
        for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
            if (b->text().isEmpty()) continue;
            // Radio buttons: the indicator and its gap come before the text.
            EXPECT_LE(QFontMetrics(b->font()).horizontalAdvance(b->text()) + 20, b->width()) << qPrintable(b->text());
            ++checked;
        }
    }
    EXPECT_GT(checked, 15);
}
