#pragma once
// DiskWatch: which disks of the package are in a drive, kept up to date from the kernel's
// mount-table notifications (a socket notifier on the table's descriptor: nothing wakes
// the program while no disk comes or goes). When a disk of the package appears, the log
// says which one and when it was memorized, and Package > "Memorize ... again" updates it
// in one step, keeping its title, description and additional text.
#include <QObject>
#include <memory>
#include <string>
#include <vector>

#include "app/AppContext.h"
#include "changes/DiskChanges.h"
#include "platform/MountWatch.h"
#include "ui/app/UiServices.h"

class QAction;
class QSocketNotifier;

namespace quindle {

class TCollectForm;
class TMainForm;

class DiskWatch : public QObject {
    Q_OBJECT
public:
    // `mountInfo` is the mount table to watch (tests give a file of their own).
    DiskWatch(AppContext& ctx, UiServices& ui, TMainForm& main, TCollectForm& collect,
              const std::string& mountInfo = "/proc/self/mountinfo");
    ~DiskWatch() override;

    // The disks of the package in a ready drive, as last seen.
    const std::vector<ConnectedDisk>& Connected() const { return connected_; }
    // The disk the update action memorizes again; empty recordFile when none.
    const ConnectedDisk& Target() const { return target_; }

    // Package menu: memorizes the disk that appeared last again, with its own texts; what
    // changed then opens in a window of its own.
    QAction* UpdateConnected1 = nullptr;
    // Package menu, after it: "Verify E:..." for each disk of the package in a drive.
    const std::vector<QAction*>& VerifyActions() const { return verify_; }

    // The mount table changed: reads it, rebuilds the drive table and announces the disks
    // of the package that appeared. The notifier calls it; tests call it directly.
    void MountTableChanged();
    void UpdateConnected1Click();
    // The drive table was changed by other means (a drive mapped): which disks of the
    // package are in a drive is looked at again, quietly.
    void DrivesChanged();

signals:
    // Connected() changed: a disk of the package came or went.
    void ConnectedChanged();

private:
    void Rescan(bool announce);
    void SetTarget(const ConnectedDisk& d);
    void RebuildVerifyActions();

    AppContext& ctx_;
    UiServices& ui_;
    TMainForm& main_;
    TCollectForm& collect_;
    MountWatch watch_;
    QSocketNotifier* notifier_ = nullptr;
    std::vector<ConnectedDisk> connected_;
    ConnectedDisk target_;
    std::vector<QAction*> verify_; // in the Package menu, one per connected disk
    bool pending_ = false; // a change arrived during a walk; handled once it has ended
};

} // namespace quindle
