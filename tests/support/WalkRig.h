#pragma once
// The main window's directory tree and hidden lister around a mapped drive C and a
// package folder, as the memorizer uses them; the log, the message pump and the tree's
// error sink are recorders.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/AppContext.h"
#include "browse/DirectoryOutline.h"
#include "browse/FileListBox.h"
#include "records/DiskRecord.h"
#include "records/Memorizer.h"
#include "support/TempDrive.h"

namespace quindle::test {

struct WalkRig {
    AppContext ctx;
    TempDir package;
    TempDrive c{'C'};
    std::vector<std::string> log, treeErrors;
    int pumps = 0;
    std::function<void()> onPump; // runs inside every pump of the walk
    std::unique_ptr<TDirectoryOutline> tree;
    std::unique_ptr<TFileListBox> lister;

    WalkRig() {
        c.MapInto(ctx.platform);
        ctx.platform.SetCurrentDir("C:\\");
        ctx.PackageFolder = package.path() + "/";
        ctx.AddToLog = [this](const std::string& s) { log.push_back(s); };
        ctx.ProcessMessages = [this] {
            ++pumps;
            if (onPump) onPump();
        };
        tree = std::make_unique<TDirectoryOutline>(ctx);
        tree->SetTextCase(tcAsIs);
        tree->OnApplicationError = [this](const std::string& m) { treeErrors.push_back(m); };
        lister = std::make_unique<TFileListBox>(ctx);
        lister->SetFileType(ftReadOnly | ftHidden | ftSystem | ftArchive | ftNormal);
    }
    void Map(const TempDrive& d) { d.MapInto(ctx.platform); }
    // Memorizes drive d into the record of `serial`; returns the record's path.
    std::string Memorize(char d, const std::string& serial) {
        const std::string path = RecordPath(ctx, serial);
        MemorizeDisk(ctx, *tree, *lister, d, path);
        return path;
    }
    std::string Memorize(const TempDrive& d, const std::string& serial) {
        Map(d);
        return Memorize(d.Info().letter, serial);
    }
};

} // namespace quindle::test
