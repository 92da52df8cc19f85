// Test entry for the desktop tests: one QApplication on the real xcb platform of the X
// server in DISPLAY (scripts/test starts Xvfb with openbox), settings in a private
// folder. Without a display the tests are skipped, unless QUINDLE_DESKTOP_REQUIRED is
// set (scripts/test sets it), when they fail. A failing test leaves a screenshot of the
// whole screen in <build>/desktop-failures/.
#include <QApplication>
#include <QLocale>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

#include "DesktopSupport.h"


int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const bool display = getenv("DISPLAY") && *getenv("DISPLAY");
    if (!display && getenv("QUINDLE_DESKTOP_REQUIRED")) {
        fprintf(stderr, "desktop tests: no X display in DISPLAY\n");
        return 1;
    }
    QTemporaryDir config;
    setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
    setenv("XDG_DATA_HOME", config.path().toLocal8Bit().constData(), 1);
    if (!display) return RUN_ALL_TESTS(); // every test skips itself
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication app(argc, argv);
    // Numbers are grouped as the locale groups them: the tests read them in one locale,
    // whatever the machine's.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    quindle::test::SetHaveDesktop(true);
    return RUN_ALL_TESTS();
}
