#pragma once
// The whole program with drive C and a drive E mapped in the user's settings file to
// temporary folders, so that a drive table rebuilt by the mount watch has them too.
#include <QTemporaryDir>
#include <cstdint>
#include <memory>

#include "support/SettingsDrives.h"
#include "support/TempDrive.h"
#include "ui/ScriptedUi.h"
#include "ui/app/Application.h"

namespace quindle::test {

struct ProgramRig {
    QTemporaryDir progDir;
    ScriptedUi ui;
    TempDrive c{'C', 1u};
    TempDrive e;
    std::unique_ptr<Application> app;

    explicit ProgramRig(uint32_t serialOfE) : e('E', serialOfE) { MapDrives({&c, &e}); }
    ~ProgramRig() {
        app.reset();
        MapDrives({});
    }
    // Starts the program, drive E chosen in the selector.
    void Start() {
        app = std::make_unique<Application>(ui, progDir.path() + "/quindle");
        app->MainForm->DriveComboBox1.BuildList();
        app->MainForm->DriveComboBox1.SetDrive('E');
    }
};

} // namespace quindle::test
