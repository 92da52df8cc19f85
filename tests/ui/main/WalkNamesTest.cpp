// Folder names as Linux allows them, memorized through the package dialog's Add: every file
// lands in its own top-level folder's section, and no name splits or forges a section.
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "support/TempDrive.h"
#include "ui/app/Application.h"
#include "ui/widgets/OvalButton.h"
#include "ui/ScriptedUi.h"

using namespace quindle;
using quindle::test::ReadHostFile;
using quindle::test::TempDrive;

namespace {

struct Case {
    std::string name;    // the top-level folder, which holds t.txt and a folder of the same name holding d.txt
    std::string section; // its section's name in the record
};

const std::vector<Case> kCases = {
    {"[x", "[x"},         {"x]", "x]"},           {"a=b", "a=b"},           {"a;b", "a;b"},
    {"cr\rname", "cr?name"}, {"nl\nname", "nl?name"}, {"x]\r\n[Forged", "x]??[Forged"},
    {"a\\b", "a\\b"},     {"x\\..", "x\\.."},     {"Why?", "Why?"},         {"a*b", "a*b"},
    {"a..b", "a..b"},     {" lead", " lead"},     {"trail ", "trail "},     {"caf\xe9", "caf\xe9"},
};

std::string Add(test::ScriptedUi& ui, TCollectForm& form, TMainForm& main) {
    main.Add1Click();
    form.Edit1->setText("Odd names");
    form.ActionButton->OnClick(form.ActionButton);
    // The first line: a disk memorized again has what changed on a second one.
    return ui.boxes.empty() ? std::string() : ui.boxes.back().text.section('\n', 0, 0).toStdString();
}

} // namespace

TEST(WalkNames, EveryFolderNameIsRecordedAsItIsOnDiskAndTheNextWalkSeesTheDiskAnew) {
    {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle");
        QFile::remove(s.fileName());
    }
    QTemporaryDir progDir;
    test::ScriptedUi ui;
    TempDrive c{'C', 1u};
    TempDrive e{'E', 77u};
    c.MakeFile("c-only.txt");
    e.MakeFile("root.txt");
    for (const auto& k : kCases) {
        e.MakeFile(k.name + "/t.txt");
        e.MakeFile(k.name + "/" + k.name + "/d.txt");
    }
    // Case twins: two folders, one section (sections match ignoring case), no file lost.
    e.MakeFile("DOCS/upper.txt");
    e.MakeFile("Docs/lower.txt");
    Application app(ui, progDir.path() + "/quindle");
    c.MapInto(app.ctx.platform);
    e.MapInto(app.ctx.platform);
    app.MainForm->DriveComboBox1.BuildList();
    app.MainForm->DriveComboBox1.SetDrive('E');

    auto expected = [&](const std::vector<Case>& cases) {
        std::vector<Case> sorted = cases;
        sorted.push_back({"DOCS", ""});
        sorted.push_back({"Docs", ""});
        std::sort(sorted.begin(), sorted.end(), [](const Case& a, const Case& b) { return a.name < b.name; });
        std::string text = "\r\n[E:\\]\r\nroot.txt=1\r\n";
        for (const auto& k : sorted) {
            if (k.name == "DOCS") text += "\r\n[DOCS]\r\nupper.txt=1\r\nlower.txt=1\r\n";
            if (!k.section.empty()) text += "\r\n[" + k.section + "]\r\nt.txt=1\r\nd.txt=1\r\n";
        }
        return text;
    };
    const std::string record = app.ctx.PackageFolder + "77.dat";
    auto folders = [&] {
        std::string text = ReadHostFile(record);
        return text.substr(0, text.find("\r\n[Special Information"));
    };

    ASSERT_EQ(Add(ui, *app.CollectForm, *app.MainForm), "Ok, the disk has been memorized!");
    EXPECT_EQ(folders(), expected(kCases));

    // Again in the same run, after the disk changed: a mask or folder of the first walk
    // does not carry over, and what is gone is gone.
    std::vector<Case> now(kCases.begin() + 1, kCases.end());
    std::filesystem::remove_all(e.path() + "/" + kCases[0].name);
    now.push_back({"added?", "added?"});
    e.MakeFile("added?/t.txt");
    e.MakeFile("added?/added?/d.txt");
    ASSERT_EQ(Add(ui, *app.CollectForm, *app.MainForm), "Ok, the disk has been memorized!");
    EXPECT_EQ(folders(), expected(now));
}
