#include "ui/app/DiskWatch.h"

#include <QAction>
#include <QListWidgetItem>
#include <QMenu>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>

#include "changes/DiskChanges.h"
#include "package/Package.h"
#include "records/DiskRecord.h"
#include "records/IniFile.h"
#include "records/Memorizer.h"
#include "records/PackageTitles.h"
#include "ui/package/CollectForm.h"
#include "ui/lists/EntryListWindow.h"
#include "ui/main/MainForm.h"
#include "ui/widgets/OvalButton.h"
#include "ui/shared/Text.h"
#include "ui/verify/VerifyWindow.h"
#include "settings/UserSettings.h"
#include "ui/widgets/WalkTicker.h"

namespace quindle {

DiskWatch::DiskWatch(AppContext& ctx, UiServices& ui, TMainForm& main, TCollectForm& collect,
                     const std::string& mountInfo)
    : QObject(&main), ctx_(ctx), ui_(ui), main_(main), collect_(collect), watch_(mountInfo) {
    UpdateConnected1 = main_.Collection1->addAction(QStringLiteral("Memorize the connected disk again"));
    UpdateConnected1->setObjectName(QStringLiteral("UpdateConnected1"));
    UpdateConnected1->setEnabled(false);
    main_.Walks.AddTreeCommand(UpdateConnected1);
    connect(UpdateConnected1, &QAction::triggered, this, [this] { UpdateConnected1Click(); });
    // Disks join and leave the package without the drives changing (Add, Remove, another
    // program): the menu looks again each time it opens. Not during a walk, which owns the
    // drive table until it ends.
    connect(main_.Collection1, &QMenu::aboutToShow, this, [this] {
        if (!main_.Walks.Running()) Rescan(false);
    });
    if (watch_.Fd() >= 0) {
        // The kernel marks the table's descriptor "exceptional" (POLLPRI) on every change.
        notifier_ = new QSocketNotifier(watch_.Fd(), QSocketNotifier::Exception, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] { MountTableChanged(); });
    }
    Rescan(false);
}

DiskWatch::~DiskWatch() = default;

void DiskWatch::MountTableChanged() {
    if (main_.Walks.Running()) {
        // The walk reads the drive table: it changes only once the walk has ended. The
        // table is read now all the same, which clears the kernel's mark.
        watch_.Read();
        if (!pending_) {
            pending_ = true;
            QTimer::singleShot(500, this, [this] {
                pending_ = false;
                MountTableChanged();
            });
        }
        return;
    }
    const std::string table = watch_.Read();
    // The drive table anew from the mapping and the mounts; the selector lists it quietly,
    // keeping its drive (no change of drive follows, no message).
    ctx_.platform.SetDrives(BuildDriveTable(ReadDriveMappings(), ParseMountInfo(table)));
    const char drive = main_.DriveComboBox1.Drive();
    auto onChange = std::move(main_.DriveComboBox1.OnChange);
    main_.DriveComboBox1.OnChange = nullptr;
    main_.DriveComboBox1.BuildList();
    main_.DriveComboBox1.SetDrive(drive);
    main_.DriveComboBox1.OnChange = std::move(onChange);
    Rescan(true);
}

void DiskWatch::DrivesChanged() {
    Rescan(false);
    collect_.MarkConnectedDisks();
}

void DiskWatch::Rescan(bool announce) {
    const std::vector<ConnectedDisk> before = std::move(connected_);
    connected_ = ConnectedDisks(ctx_.platform, PackageRecordFiles(ctx_));
    bool targetStays = false;
    for (const ConnectedDisk& d : connected_) {
        bool known = false;
        for (const ConnectedDisk& b : before) known |= b.recordFile == d.recordFile && b.letter == d.letter;
        targetStays |= d.recordFile == target_.recordFile && d.letter == target_.letter;
        if (known && announce) continue;
        if (!announce) {
            if (target_.recordFile.empty()) SetTarget(d);
            continue;
        }
        const DiskInfo info = ReadDiskInfo(ctx_.PackageFolder + d.recordFile, ctx_.InfoSection);
        ctx_.Log("Disk " + (info.title.empty() ? d.serial : "\"" + info.title + "\" (" + d.serial + ")") +
                 " is in drive " + std::string(1, d.letter) + ":, memorized " +
                 (info.date.empty() ? std::string("at an unknown date") : info.date) +
                 "; Package > Memorize " + std::string(1, d.letter) + ": again updates it");
        SetTarget(d);
        targetStays = true;
    }
    if (!targetStays) SetTarget(connected_.empty() ? ConnectedDisk{} : connected_.front());
    const auto same = [](const ConnectedDisk& a, const ConnectedDisk& b) {
        return a.recordFile == b.recordFile && a.letter == b.letter;
    };
    if (!std::equal(before.begin(), before.end(), connected_.begin(), connected_.end(), same)) {
        RebuildVerifyActions();
        emit ConnectedChanged();
    }
    // The package dialog marks the disks in a drive.
    if (announce) collect_.MarkConnectedDisks();
}

void DiskWatch::RebuildVerifyActions() {
    for (QAction* a : verify_) delete a;
    verify_.clear();
    // Right after "Memorize ... again", before whatever follows it.
    const QList<QAction*> menu = main_.Collection1->actions();
    const qsizetype at = menu.indexOf(UpdateConnected1);
    QAction* next = at >= 0 && at + 1 < menu.size() ? menu[at + 1] : nullptr;
    for (const ConnectedDisk& d : connected_) {
        auto* a = new QAction(VerifyCommandText(d.letter), main_.Collection1);
        a->setObjectName(QStringLiteral("Verify%1").arg(QChar(d.letter)));
        connect(a, &QAction::triggered, this, [this, d] { ShowVerifyWindow(ctx_, ui_, &main_, d); });
        main_.Collection1->insertAction(next, a);
        verify_.push_back(a);
    }
}

void DiskWatch::SetTarget(const ConnectedDisk& d) {
    target_ = d;
    UpdateConnected1->setEnabled(!d.recordFile.empty());
    UpdateConnected1->setText(d.recordFile.empty()
                                  ? QStringLiteral("Memorize the connected disk again")
                                  : QStringLiteral("Memorize %1: again").arg(QChar(d.letter)));
}

void DiskWatch::UpdateConnected1Click() {
    if (target_.recordFile.empty()) return;
    const WalkGuard::Hold walk(main_.Walks, WalkGuard::Walk::Record);
    if (!walk) return;
    const ConnectedDisk d = target_;
    const std::string record = ctx_.PackageFolder + d.recordFile;
    const DiskInfo disk = ReadDiskInfo(record, ctx_.InfoSection);
    const DiskInfoFields info{disk.title, disk.description, disk.additional};
    main_.StopButton->show(); // Stop ends this walk as it ends Drive > Open
    const QString drive = QString(QChar(d.letter)) + QStringLiteral(": ");
    main_.AddToLog(drive);
    QListWidgetItem* line = main_.LastLogLine();
    WalkTicker ticker(ctx_.Progress, true, [this, line, drive](const QString& figures) {
        if (!main_.Closing()) line->setText(drive + figures);
    });
    ticker.Start();
    MemorizeResult result;
    try {
        result = MemorizeAndCompare(ctx_, main_.DirectoryOutline1, main_.FileListBox1, d.letter, d.serial, record, info,
                                    [&](const Catalogue& before, const Catalogue& now, const CatalogueDiff& diff) {
                                        ShowChangesWindow(ctx_, ui_, &main_, disk.Name(), before, now, diff);
                                    },
                                    KeptWalkOptions(record, ctx_.InfoSection)); // the disk's own archives and checksums
    } catch (const std::exception&) {
        result.complete = false;
    }
    ticker.Stop();
    if (main_.Closing()) return;
    main_.StopButton->hide();
    if (result.complete) {
        ctx_.Log("Ok, the disk has been memorized!");
        // Entries that could not be looked at leave the catalogue without their details.
        if (const std::string line = result.IncompleteLine(); !line.empty()) ctx_.Log(line);
        if (const std::string line = result.ChangesLine(); !line.empty()) ctx_.Log(line);
    } else {
        ctx_.Log("Memorizing that disk was not complete.");
    }
    try {
        main_.FileListBox1.OpenPath("c:\\");
    } catch (const std::exception&) {
    }
    collect_.RefreshDiskList();
}

} // namespace quindle
