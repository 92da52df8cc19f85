#include <QApplication>

#include "ui/app/Application.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quindle"));
    QApplication::setOrganizationName(QStringLiteral("Tavrel"));
    quindle::SetProgramFont();

    quindle::QtUiServices ui;
    quindle::Application quindleApp(ui, QCoreApplication::applicationFilePath());
    quindleApp.MainForm->show();
    return app.exec();
}
