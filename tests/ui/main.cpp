// Test entry for the ui tests: one QApplication on the offscreen platform, settings in a
// private folder so no test touches the user's own.
#include <QApplication>
#include <QLocale>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QTemporaryDir config;
    setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
    setenv("XDG_DATA_HOME", config.path().toLocal8Bit().constData(), 1);
    QApplication app(argc, argv);
    // Numbers are grouped as the locale groups them: the tests read them in one locale,
    // whatever the machine's.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
