#include <QApplication>
#include <QFont>

#include "ui/Application.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quindle"));
    QApplication::setOrganizationName(QStringLiteral("Tavrel"));
    // The windows are laid out in pixels for a small dialog font.
    QFont f = QApplication::font();
    f.setPointSize(8);
    QApplication::setFont(f);

    quindle::QtUiServices ui;
    quindle::Application quindleApp(ui, QCoreApplication::applicationFilePath());
    quindleApp.MainForm->show();
    return app.exec();
}
