// A walk killed, unplugged or out of disk space: the old record and the old catalogue stay
// whole and still belong together.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "catalogue/DiskCatalogue.h"
#include "platform/Errors.h"
#include "records/DiskRecord.h"
#include "records/Memorizer.h"
#include "support/TempDrive.h"
#include "support/WalkRig.h"

using namespace quindle;
using quindle::test::ReadHostFile;
using quindle::test::TempDrive;
using quindle::test::WalkRig;
using quindle::test::WriteHostFile;

namespace {

struct OldPair {
    std::string record, catalogue;
};

// Memorizes drive E into the record of serial 9 and returns both files' bytes.
OldPair Memorize(WalkRig& rig, const std::string& path) {
    MemorizeDiskWithInfo(rig.ctx, *rig.tree, *rig.lister, 'E', "9", path, {"Old", "", ""});
    return {ReadHostFile(path), ReadHostFile(CataloguePathOf(path))};
}

void ExpectOldPairWhole(const WalkRig& rig, const std::string& path, const OldPair& old) {
    EXPECT_EQ(ReadHostFile(path), old.record);
    EXPECT_EQ(ReadHostFile(CataloguePathOf(path)), old.catalogue);
    const DiskCatalogue disk = OpenDiskCatalogue(path, rig.ctx.InfoSection);
    EXPECT_EQ(disk.problem, CatalogueProblem::None);
    // Nothing else but the walks' own temporary files, which are no records.
    for (const auto& entry : std::filesystem::directory_iterator(rig.package.path())) {
        const std::string name = entry.path().filename().string();
        if (entry.path().string() == path || entry.path().string() == CataloguePathOf(path)) continue;
        EXPECT_TRUE(name.rfind(".~walk-", 0) == 0 || name.rfind(".~cat-", 0) == 0) << name;
    }
}

// Runs `fn` in a child process; returns its wait status.
template <class Fn> int InChild(Fn fn) {
    const pid_t pid = fork();
    if (pid == 0) {
        fn();
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

} // namespace

TEST(CatalogueReliability, KilledWalkLeavesTheOldPairWholeAndMatched) {
    WalkRig rig;
    TempDrive e('E', 9u);
    for (int d = 0; d < 300; ++d)
        for (int f = 0; f < 20; ++f) e.MakeFile("D" + std::to_string(d) + "/f" + std::to_string(f));
    rig.Map(e);
    const std::string path = RecordPath(rig.ctx, "9");
    const OldPair old = Memorize(rig, path);
    e.MakeFile("D7/new-since");

    // Killed in the middle of the walk, and right as the walk ends (its last pump).
    for (const int at : {150, 301}) {
        SCOPED_TRACE(at);
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(ready[0]);
            rig.pumps = 0;
            rig.onPump = [&] {
                if (rig.pumps == at) {
                    (void)!write(ready[1], "k", 1);
                    pause();
                }
            };
            Memorize(rig, path);
            _exit(3);
        }
        close(ready[1]);
        char c = 0;
        ASSERT_EQ(read(ready[0], &c, 1), 1);
        close(ready[0]);
        kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status));
        ExpectOldPairWhole(rig, path, old);
    }
}

TEST(CatalogueReliability, UnpluggedDiskAndFullDiskLeaveTheOldPairWholeAndMatched) {
    WalkRig rig;
    TempDrive e('E', 9u);
    for (const char* dir : {"A", "B", "C", "D"}) e.MakeFile(std::string(dir) + "/x.txt");
    rig.Map(e);
    const std::string path = RecordPath(rig.ctx, "9");
    const OldPair old = Memorize(rig, path);

    // Unplugged in the middle of the walk.
    const std::string away = e.path() + "-away";
    rig.pumps = 0;
    rig.onPump = [&] {
        if (rig.pumps == 3) std::filesystem::rename(e.path(), away);
    };
    std::string error;
    try {
        Memorize(rig, path);
    } catch (const EFileError& x) {
        error = x.what();
    }
    EXPECT_EQ(error, "Please, make sure that disk is ready!");
    ExpectOldPairWhole(rig, path, old);
    std::filesystem::rename(away, e.path());
    rig.onPump = nullptr;

    // A full disk: the child may write files of 4 KiB at most. The new record, of long
    // names, cannot be written; whatever was, the old pair stays.
    for (int i = 0; i < 400; ++i) e.MakeFile("Many/a-rather-long-file-name-number-" + std::to_string(i) + ".txt");
    const int status = InChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{4096, 4096};
        if (setrlimit(RLIMIT_FSIZE, &lim) != 0) _exit(10);
        try {
            Memorize(rig, path);
        } catch (const EFileError& x) {
            _exit(std::string(x.what()) == "Cannot create file " + path ? 0 : 2);
        }
        _exit(1);
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ExpectOldPairWhole(rig, path, old);
}
