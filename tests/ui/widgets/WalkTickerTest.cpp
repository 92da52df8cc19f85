#include <gtest/gtest.h>

#include "ui/widgets/WalkTicker.h"

using namespace quindle;

TEST(WalkTicker, FiguresCountFoldersFilesAndTime) {
    using std::chrono::milliseconds;
    const struct {
        long folders, files;
        long ms;
        bool withFiles;
        const char* text;
    } cases[] = {
        {0, 0, 0, true, "0 folders, 0 files, 0.0 s"},
        {1, 1, 950, true, "1 folder, 1 file, 0.9 s"},
        {20001, 1234567, 59990, true, "20,001 folders, 1,234,567 files, 59.9 s"},
        {999, 1000, 61000, true, "999 folders, 1,000 files, 1:01"},
        {5167, 0, 3605000, false, "5,167 folders, 60:05"},
    };
    for (const auto& c : cases) {
        WalkProgress p;
        p.folders = c.folders;
        p.files = c.files;
        EXPECT_EQ(WalkTicker::Figures(p, c.withFiles, p.started + milliseconds(c.ms)).toStdString(), c.text);
    }
}
