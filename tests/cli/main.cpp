// Test entry for the command-line tests: the settings and data folders of this process
// and of every quindle-cli it starts lie in a private folder; a QApplication on the
// offscreen platform drives the package dialog for comparison.
#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QTemporaryDir config;
    setenv("XDG_CONFIG_HOME", (config.path() + "/config").toLocal8Bit().constData(), 1);
    setenv("XDG_DATA_HOME", (config.path() + "/data").toLocal8Bit().constData(), 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
