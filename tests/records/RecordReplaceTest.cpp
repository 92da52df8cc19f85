// A disk's record is replaced only by a complete walk file renamed over it: a killed
// walk, a drive that goes away, a record that cannot be replaced leave it as it was.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "platform/Errors.h"
#include "support/WalkRig.h"

using namespace quindle;
using namespace quindle::test;

namespace {

const std::string kOld = "\r\n[E:\\]\r\nold.txt=1\r\n\r\n[Special Information about this disk by Quindle]\r\n"
                         "Title=Old\r\n";

// Names in the package folder, the record itself excepted.
std::vector<std::string> Others(const TempDir& package, const std::string& record) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(package.path()))
        if (entry.path().string() != record) names.push_back(entry.path().filename().string());
    return names;
}

std::string Failure(WalkRig& rig, const std::string& path) {
    try {
        MemorizeDisk(rig.ctx, *rig.tree, *rig.lister, 'E', path);
    } catch (const EFileError& x) {
        return x.what();
    }
    return "no error";
}

} // namespace

TEST(RecordReplace, KilledWalkLeavesTheOldRecordWhole) {
    WalkRig rig;
    TempDrive e('E', 70u);
    // 200,000 files in 2,000 folders: long enough a walk to be killed in its middle.
    for (int d = 0; d < 2000; ++d) {
        const std::string dir = e.MakeDir("D" + std::to_string(d));
        for (int f = 0; f < 100; ++f) WriteHostFile(dir + "/file-" + std::to_string(f) + ".txt", "");
    }
    rig.Map(e);
    const std::string path = RecordPath(rig.ctx, "70");
    WriteHostFile(path, kOld);

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(ready[0]);
        rig.onPump = [&] {
            if (rig.pumps == 1000) {
                const char c = 'k';
                (void)!write(ready[1], &c, 1);
                pause(); // killed here, half-way, with 999 folders in the walk's file
            }
        };
        MemorizeDisk(rig.ctx, *rig.tree, *rig.lister, 'E', path);
        _exit(3); // never reached: the walk is killed first
    }
    close(ready[1]);
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status));

    EXPECT_EQ(ReadHostFile(path), kOld);
    // What the killed walk left is its own file, which no listing takes for a record.
    for (const auto& name : Others(rig.package, path)) {
        EXPECT_EQ(name.rfind(".~walk-" + std::to_string(pid) + "-", 0), 0u) << name;
        EXPECT_EQ(name.find(".dat"), std::string::npos) << name;
    }
}

TEST(RecordReplace, ADriveThatIsNotReadyOrGoesAwayRecordsNothing) {
    WalkRig rig;
    TempDrive e('E', 71u);
    for (const char* dir : {"A", "B", "C", "D"}) e.MakeFile(std::string(dir) + "/x.txt");
    rig.Map(e);
    const std::string path = RecordPath(rig.ctx, "71");
    WriteHostFile(path, kOld);
    const std::string away = e.path() + "-away";

    // Unplugged in the middle of the walk: the walk ends with an error, the old record stays.
    rig.onPump = [&] {
        if (rig.pumps == 3) std::filesystem::rename(e.path(), away);
    };
    EXPECT_EQ(Failure(rig, path), "Please, make sure that disk is ready!");
    EXPECT_EQ(ReadHostFile(path), kOld);
    EXPECT_TRUE(Others(rig.package, path).empty());

    // Unplugged before: the tree and lister showing drive C are not taken for the disk.
    rig.onPump = nullptr;
    rig.c.MakeFile("c-only.txt");
    EXPECT_EQ(Failure(rig, path), "Please, make sure that disk is ready!");
    EXPECT_EQ(ReadHostFile(path), kOld);
    EXPECT_TRUE(Others(rig.package, path).empty());
    std::filesystem::rename(away, e.path());
}

TEST(RecordReplace, EveryWalkReadsTheDiskAsItIsNowAndARecordThatCannotBeReplacedStays) {
    WalkRig rig;
    TempDrive e('E', 72u);
    e.MakeFile("Keep/k.txt");
    e.MakeFile("Gone/g.txt");
    e.MakeFile("root.txt");
    rig.Map(e);
    const std::string path = rig.Memorize('E', "72");
    EXPECT_EQ(ReadHostFile(path), "\r\n[E:\\]\r\nroot.txt=1\r\n\r\n[Gone]\r\ng.txt=1\r\n\r\n[Keep]\r\nk.txt=1\r\n");

    // Changed since the first walk, in the same run: the second sees the disk as it is.
    std::filesystem::remove_all(e.path() + "/Gone");
    e.MakeFile("Keep/new.txt");
    e.MakeFile("New/n.txt");
    rig.Memorize('E', "72");
    EXPECT_EQ(ReadHostFile(path), "\r\n[E:\\]\r\nroot.txt=1\r\n\r\n[Keep]\r\nk.txt=1\r\nnew.txt=2\r\n\r\n[New]\r\nn.txt=1\r\n");

    // The record's place holds a folder with something in it: nothing can be renamed over
    // it. The walk fails, nothing is merged and no walk file is left.
    const std::string blocked = RecordPath(rig.ctx, "73");
    std::filesystem::create_directories(blocked + "/inside");
    EXPECT_EQ(Failure(rig, blocked), "Cannot create file " + blocked);
    EXPECT_TRUE(std::filesystem::is_directory(blocked + "/inside"));
    for (const auto& name : Others(rig.package, blocked)) EXPECT_EQ(name.rfind(".~", 0), std::string::npos) << name;
}
