// A disk of 20,000 folders memorized through the package dialog with real clicks: the walk
// with its windows attached ends in the time of a core walk, and an Abort clicked half-way
// stops it at the next folder.
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DesktopSupport.h"
#include "records/DiskRecord.h"
#include "support/TempDrive.h"
#include "ui/app/Application.h"
#include "ui/package/CollectForm.h"
#include "ui/main/MainForm.h"
#include "ui/widgets/OvalButton.h"
#include "ui/ScriptedUi.h"
#include "ui/frames/WindowFrame.h"

using namespace quindle;
using namespace quindle::test;

namespace {

constexpr int kTops = 200, kSubs = 99, kFilesPerFolder = 1;
constexpr int kFolders = kTops * (kSubs + 1); // 20,000 below the root

// Name lines ("name=position") of a record, outside its information section.
int NameLines(const std::string& record) {
    int lines = 0;
    bool info = false;
    size_t at = 0;
    while (at < record.size()) {
        size_t end = record.find("\r\n", at);
        if (end == std::string::npos) end = record.size();
        const std::string_view line(record.data() + at, end - at);
        if (!line.empty() && line.front() == '[')
            info = line == "[Special Information about this disk by Quindle]";
        else if (!info && line.find('=') != std::string_view::npos)
            ++lines;
        at = end + 2;
    }
    return lines;
}

} // namespace

TEST(LargeWalk, AddThroughTheDialogMemorizesEveryFolderAndAbortStopsAtTheNextFolder) {
    if (!HaveDesktop()) GTEST_SKIP() << "no X display";
    TempDrive c{'C', 777u};
    for (int t = 0; t < kTops; ++t) {
        const std::string top = c.path() + "/top " + std::to_string(t);
        ASSERT_EQ(mkdir(top.c_str(), 0755), 0);
        for (int s = 0; s <= kSubs; ++s) {
            const std::string dir = s == 0 ? top : top + "/sub" + std::to_string(s);
            if (s > 0) {
                ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
            }
            for (int f = 0; f < kFilesPerFolder; ++f) {
                const std::string file = dir + "/file" + std::to_string(s) + "-" + std::to_string(f) + ".txt";
                const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
                ASSERT_GE(fd, 0);
                close(fd);
            }
        }
    }
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle");
    settings.clear();
    settings.setValue("Drives/C/path", QString::fromStdString(c.path()));
    settings.setValue("Drives/C/serial", 777);
    settings.sync();

    QTemporaryDir programDir;
    ScriptedUi ui;
    ui.onModal = [](QDialog* d) {
        d->show();
        return mrNone;
    };
    auto app = std::make_unique<Application>(ui, programDir.path() + "/quindle");
    struct Cleanup {
        std::unique_ptr<Application>& app;
        QSettings& settings;
        ~Cleanup() {
            if (::testing::Test::HasFailure()) Screenshot(QStringLiteral("LargeWalk"));
            app.reset();
            settings.clear();
        }
    } cleanup{app, settings};
    TMainForm& m = *app->MainForm;
    m.show();
    ASSERT_TRUE(WaitFor([&] { return FrameGeometry(m) != m.geometry(); }));
    ASSERT_TRUE(Activate(&m));

    // Package > Add, a title typed, a click on Add.
    ASSERT_TRUE(Key(QStringLiteral("ctrl+a")));
    TCollectForm& d = *app->CollectForm;
    ASSERT_TRUE(WaitFor([&] { return d.isVisible() && FrameGeometry(d) != d.geometry(); }));
    ASSERT_TRUE(Activate(&d));
    ASSERT_TRUE(ClickAt(d.Edit1, d.Edit1->rect().center()));
    ASSERT_TRUE(WaitFor([&] { return d.Edit1->hasFocus(); }));
    ASSERT_TRUE(Type(QStringLiteral("Twenty thousand")));
    ASSERT_TRUE(WaitFor([&] { return d.Edit1->text() == QStringLiteral("Twenty thousand"); }));

    const std::string record = app->ctx.PackageFolder + "777.dat";
    QElapsedTimer took;
    took.start();
    ASSERT_TRUE(ClickAt(d.ActionButton, d.ActionButton->rect().center()));
    // Generous: the walk takes about a second; a view that grows with the tree took minutes.
    ASSERT_TRUE(WaitFor([&] { return !ui.boxes.empty(); }, 60000));
    fprintf(stderr, "20,000 folders memorized through the windows in %lld ms\n",
            static_cast<long long>(took.elapsed()));
    EXPECT_EQ(ui.boxes.back().text, QStringLiteral("Ok, the disk has been memorized!"));
    EXPECT_EQ(d.StatusText(), QStringLiteral("Complete!"));
    const std::string full = ReadHostFile(record);
    EXPECT_EQ(NameLines(full), (kFolders)*kFilesPerFolder);
    EXPECT_NE(full.find("\r\n[top 199]\r\n"), std::string::npos);
    // The tree shows every folder, and the log keeps the walk's figures.
    EXPECT_EQ(m.DirectoryOutline1.ItemCount(), kFolders + 1);
    EXPECT_TRUE(m.LastLogLine()->text().startsWith(QStringLiteral("C: 20,001 folders, 20,000 files, ")))
        << m.LastLogLine()->text().toStdString();

    // Again, and a real click on Abort once half the folders are done: the walk stops at
    // the next folder after the click arrives, and keeps what it walked.
    long foldersAtClick = -1;
    bool clicked = false;
    struct AbortSeen : QObject {
        const AppContext& ctx;
        long& at;
        AbortSeen(const AppContext& c, long& a) : ctx(c), at(a) {}
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::MouseButtonRelease && at < 0) at = ctx.Progress.folders;
            return false;
        }
    } abortSeen(app->ctx, foldersAtClick);
    d.AbortButton->installEventFilter(&abortSeen);
    auto pump = app->ctx.ProcessMessages;
    bool started = false; // the figures are this walk's (the last walk's before it starts)
    app->ctx.ProcessMessages = [&] {
        started = started || app->ctx.Progress.folders < kFolders / 4;
        if (started && !clicked && app->ctx.Progress.folders >= kFolders / 2) {
            clicked = true;
            ClickAt(d.AbortButton, d.AbortButton->rect().center());
        }
        pump();
    };
    ui.boxes.clear();
    // A second press on the same spot within the double-click time is a double click, which
    // the oval button does not take for a click: when the first walk ends that soon, the
    // second click comes as a person's would, once that time is over.
    WaitFor([&] { return took.elapsed() > QApplication::doubleClickInterval() + 100; }, 5000);
    ASSERT_TRUE(ClickAt(d.ActionButton, d.ActionButton->rect().center()));
    ASSERT_TRUE(WaitFor([&] { return ui.boxes.size() >= 2; }, 60000)); // "Already memorized!", then the end
    EXPECT_EQ(ui.boxes[0].caption, QStringLiteral("Already memorized!"));
    EXPECT_EQ(ui.boxes.back().text, QStringLiteral("Memorizing that disk was not complete."));
    ASSERT_TRUE(clicked);
    ASSERT_GE(foldersAtClick, kFolders / 2);
    fprintf(stderr, "Abort: clicked at %d folders, arrived at %ld, the walk stopped at %ld\n", kFolders / 2,
            foldersAtClick, app->ctx.Progress.folders);
    EXPECT_LE(app->ctx.Progress.folders, foldersAtClick + 1);
    EXPECT_LT(foldersAtClick, kFolders / 2 + 2000) << "the click took long to arrive";
    const std::string partial = ReadHostFile(record);
    EXPECT_EQ(NameLines(partial), app->ctx.Progress.files);
    EXPECT_LT(NameLines(partial), NameLines(full));
    EXPECT_NE(partial.find("Title=Twenty thousand"), std::string::npos);
    d.hide();
}
