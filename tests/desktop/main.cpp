// Test entry for the desktop tests: one QApplication on the real xcb platform of the X
// server in DISPLAY (scripts/test starts Xvfb with openbox), settings in a private
// folder. Without a display the tests are skipped, unless QUINDLE_DESKTOP_REQUIRED is
// set (scripts/test sets it), when they fail. A failing test leaves a screenshot of the
// whole screen in <build>/desktop-failures/.
#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

#include "DesktopSupport.h"

namespace {
class ScreenshotOnFailure : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo& info) override {
        if (!info.result()->Failed() || !quindle::test::HaveDesktop()) return;
        const QString dir = QStringLiteral(QUINDLE_BINARY_DIR "/desktop-failures");
        QDir().mkpath(dir);
        const QString file = dir + QStringLiteral("/%1.%2.png").arg(info.test_suite_name(), info.name());
        QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), file});
        fprintf(stderr, "screenshot: %s\n", qPrintable(file));
    }
};
} // namespace

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
    quindle::test::SetHaveDesktop(true);
    ::testing::UnitTest::GetInstance()->listeners().Append(new ScreenshotOnFailure);
    return RUN_ALL_TESTS();
}
