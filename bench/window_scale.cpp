// Each window with its view attached, at two sizes ten times apart, on the offscreen
// platform: a window whose work per row grows with its rows shows a growth far above 10.
//   package dialog  - Package > View listing N disks (by title, shown)
//   search report   - a word found in N disks: the search and the report shown
//   drive selector  - the list of N drives rebuilt and shown
//   Browse          - a disk of N files shown, then filtered
// Prints each time, and `growth: X.XX for 10x rows` (time at 10N over time at N).
//
//   window_scale [--small]   (--small: the sizes a tenth, for a quick look)
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFont>
#include <QLineEdit>
#include <QSettings>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "records/DiskRecord.h"
#include "ui/app/Application.h"
#include "ui/package/CollectForm.h"
#include "ui/widgets/DriveComboView.h"
#include "ui/main/MainForm.h"
#include "ui/browse/BrowseForm.h"
#include "ui/search/SearchForm.h"
#include "ui/app/UiServices.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point a) { return std::chrono::duration<double>(Clock::now() - a).count(); }

class NonBlockingUi : public quindle::UiServices {
public:
    int MessageDlg(QWidget*, const QString& text, const QString&, quindle::MsgIcon, quindle::MsgButtons) override {
        std::fprintf(stderr, "window_scale: message box: %s\n", text.toUtf8().constData());
        return quindle::mrYes;
    }
    int ShowModal(QDialog* d) override {
        d->show();
        QCoreApplication::processEvents();
        return quindle::mrNone;
    }
    void ShellOpen(const QString&) override {}
    QString GetSaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    void ShowError(QWidget*, const QString& message) override {
        std::fprintf(stderr, "window_scale: error: %s\n", message.toUtf8().constData());
    }
};

// A small record holding the word "holiday" once.
void WriteRecord(const std::string& path, uint32_t serial, int i) {
    std::ofstream f(path, std::ios::binary);
    f << "\r\n[E:\\]\r\nholiday" << i << ".jpg=1\r\nreadme.txt=2\r\n\r\n[Docs]\r\nletter.doc=1\r\n"
      << "\r\n[Special Information about this disk by Quindle]\r\nVolume Serial=" << serial
      << "\r\nMemorization Date=01/02/2026 10:00:00\r\nTitle=Disk " << (i * 7919 % 100003)
      << "\r\nDescription=d\r\nAdditional=\r\n";
}

// A record of `files` names in 100-name folders below 50 top-level folders.
void WriteLargeRecord(const std::string& path, long files) {
    std::ofstream f(path, std::ios::binary);
    f << "\r\n";
    const long perTop = (files + 49) / 50;
    for (long top = 0, n = 0; top < 50 && n < files; ++top) {
        f << "[Folder " << top << "]\r\n";
        for (long k = 0; k < perTop && n < files; ++k, ++n) f << "photo_" << n << "_IMG.jpg=" << (k + 1) << "\r\n";
        f << "\r\n";
    }
    f << "[Special Information about this disk by Quindle]\r\nVolume Serial=1\r\n"
      << "Memorization Date=01/02/2026 10:00:00\r\nTitle=Large\r\nDescription=\r\nAdditional=\r\n";
}

struct Window {
    const char* name;
    long small; // rows at the small size; the large one is ten times that
    std::function<double(long rows)> time;
};

} // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--small") == 0;
    char tmpl[] = "/tmp/window_scale.XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const std::string root = tmpl;
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (root + "/share").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The offscreen platform tells of every popup it cannot raise; nothing to see here.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
        if (!m.startsWith(QStringLiteral("This plugin does not support"))) std::fprintf(stderr, "%s\n", qPrintable(m));
    });
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quindle"));
    QApplication::setOrganizationName(QStringLiteral("Tavrel"));
    QFont font = QApplication::font();
    font.setPointSize(8);
    QApplication::setFont(font);
    NonBlockingUi ui;

    // A program folder whose package holds `disks` records.
    auto program = [&](long disks) {
        const std::string dir = root + "/prog" + std::to_string(disks);
        fs::create_directories(dir + "/data");
        for (long i = 0; i < disks; ++i) {
            const uint32_t serial = static_cast<uint32_t>(1000000 + i);
            WriteRecord(dir + "/data/" + std::to_string(serial) + ".dat", serial, static_cast<int>(i));
        }
        return dir + "/quindle";
    };

    const long scale = quick ? 10 : 1;
    const Window windows[] = {
        {"package dialog (View)", 1000 / scale,
         [&](long rows) {
             auto a = std::make_unique<quindle::Application>(ui, QString::fromStdString(program(rows)));
             a->MainForm->show();
             QCoreApplication::processEvents();
             const auto t0 = Clock::now();
             a->MainForm->View1Click();
             QCoreApplication::processEvents();
             const double t = Seconds(t0);
             if (a->CollectForm->DiskCount() != rows) std::fprintf(stderr, "window_scale: the dialog lists %d disks\n", a->CollectForm->DiskCount());
             return t;
         }},
        {"search report", 1000 / scale,
         [&](long rows) {
             auto a = std::make_unique<quindle::Application>(ui, QString::fromStdString(program(rows)));
             a->MainForm->show();
             QCoreApplication::processEvents();
             a->MainForm->SearchEdit->setEditText(QStringLiteral("holiday"));
             const auto t0 = Clock::now();
             a->MainForm->SearchButtonClick();
             QCoreApplication::processEvents();
             const double t = Seconds(t0);
             if (a->SearchForm->RowCount() < rows) std::fprintf(stderr, "window_scale: the report has %d rows\n", a->SearchForm->RowCount());
             return t;
         }},
        {"drive selector", 2,
         [&](long rows) {
             {
                 QSettings s;
                 s.remove("Drives");
                 for (long i = 0; i < rows; ++i) {
                     const QString letter(QChar('Z' - static_cast<int>(i)));
                     const std::string dir = root + "/drive" + std::to_string(i);
                     fs::create_directories(dir);
                     s.setValue("Drives/" + letter + "/path", QString::fromStdString(dir));
                 }
                 s.sync();
             }
             auto a = std::make_unique<quindle::Application>(ui, QString::fromStdString(program(0)));
             a->MainForm->show();
             QCoreApplication::processEvents();
             const auto t0 = Clock::now();
             for (int r = 0; r < 20; ++r) {
                 a->MainForm->DriveComboBox1.CreateWnd(); // the drive list read and shown again
                 a->MainForm->DriveComboView1->showPopup();
                 QCoreApplication::processEvents();
                 a->MainForm->DriveComboView1->hidePopup();
                 QCoreApplication::processEvents();
             }
             return Seconds(t0) / 20;
         }},
        {"Browse (shown, then filtered)", 100000 / scale,
         [&](long rows) {
             const std::string path = root + "/large" + std::to_string(rows) + ".dat";
             WriteLargeRecord(path, rows);
             auto a = std::make_unique<quindle::Application>(ui, QString::fromStdString(program(0)));
             quindle::TBrowseForm& b = *a->CollectForm->BrowseForm;
             const auto t0 = Clock::now();
             b.ShowDisk("Large", path);
             QCoreApplication::processEvents();
             b.SelectFolder(0);
             QCoreApplication::processEvents();
             b.FilterEdit->setText(QStringLiteral("_7_"));
             QCoreApplication::processEvents();
             const double t = Seconds(t0);
             b.hide();
             return t;
         }},
    };
    for (const Window& w : windows) {
        const long large = w.name == std::string("drive selector") ? 26 : w.small * 10;
        const double tSmall = w.time(w.small);
        const double tLarge = w.time(large);
        std::printf("%-30s %8ld rows %8.3f s   %8ld rows %8.3f s   growth: %.2f for %.0fx rows\n", w.name, w.small,
                    tSmall, large, tLarge, tLarge / tSmall, static_cast<double>(large) / w.small);
        std::fflush(stdout);
    }
    fs::remove_all(root);
    return 0;
}
