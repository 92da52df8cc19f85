// The long walks with their windows attached, on the offscreen platform: Package > Add
// through the real package dialog against `quindle-cli add` of the same disk, and
// Drive > Open through the main window against the same walk over the tree without a view.
// A view that does work over all its rows at every change turns these walks quadratic;
// the ratios show it as the disk grows.
//
//   window_walk [--sizes 20000,50000] [--cli PATH] [--keep DIR]
//   --sizes: folders per generated disk (5 files each); --cli: the quindle-cli to time
//   (default: the one beside this program's folder); --keep: generate the disks in DIR
//   and reuse them on later runs; --rounds: runs of each walk (3).
// Every run's time is printed, the best first: the ratio compares the best runs, and a run
// far above the others shows.
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QFont>
#include <QLineEdit>
#include <QSettings>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/AppContext.h"
#include "browse/DirectoryOutline.h"
#include "browse/FileListBox.h"
#include "records/Memorizer.h"
#include "ui/app/Application.h"
#include "ui/package/CollectForm.h"
#include "ui/main/MainForm.h"
#include "ui/app/UiServices.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t kSerial = 439041101;

double Seconds(Clock::time_point a) { return std::chrono::duration<double>(Clock::now() - a).count(); }

// The runs of one walk: the best, then every run in order ("0.912 s (0.912 0.950 0.931)").
struct Runs {
    std::vector<double> times;
    void Add(double t) { times.push_back(t); }
    double Best() const { return times.empty() ? 0 : *std::min_element(times.begin(), times.end()); }
    std::string Text() const {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.3f s (", Best());
        std::string s = buf;
        for (size_t i = 0; i < times.size(); ++i) {
            std::snprintf(buf, sizeof buf, "%s%.3f", i ? " " : "", times[i]);
            s += buf;
        }
        return s + ")";
    }
};

// `folders` folders in a tree of up to 12 subfolders per folder, 5 files in each; names of
// 6 to 24 characters.
long Generate(const std::string& root, int folders) {
    std::mt19937 rng(7);
    const std::string alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_- ";
    auto name = [&] {
        std::string s(6 + rng() % 19, 'x');
        for (auto& c : s) c = alphabet[rng() % (alphabet.size() - 1)];
        return s;
    };
    std::vector<std::string> queue{root};
    long files = 0;
    size_t next = 0;
    int made = 0;
    while (made < folders && next < queue.size()) {
        const std::string dir = queue[next++];
        for (int f = 0; f < 5; ++f, ++files) std::ofstream(dir + "/" + name() + ".txt");
        const int subs = 1 + static_cast<int>(rng() % 12);
        for (int s = 0; s < subs && made < folders; ++s, ++made) {
            const std::string sub = dir + "/" + name() + std::to_string(made);
            fs::create_directory(sub);
            queue.push_back(sub);
        }
    }
    for (; next < queue.size(); ++next)
        for (int f = 0; f < 5; ++f, ++files) std::ofstream(queue[next] + "/" + name() + ".txt");
    return files;
}

// Message boxes answered at once, dialogs shown without a modal loop.
class NonBlockingUi : public quindle::UiServices {
public:
    std::vector<QString> boxes;
    int MessageDlg(QWidget*, const QString& text, const QString&, quindle::MsgIcon, quindle::MsgButtons) override {
        boxes.push_back(text);
        return quindle::mrYes;
    }
    int ShowModal(QDialog* d) override {
        d->show();
        QCoreApplication::processEvents();
        return quindle::mrNone;
    }
    void ShellOpen(const QString&) override {}
    QString GetSaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    void ShowError(QWidget*, const QString& message) override { boxes.push_back(message); }
};

double RunCli(const std::string& cli, const std::string& package) {
    const auto t0 = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (!freopen("/dev/null", "w", stderr)) _exit(127);
        execl(cli.c_str(), cli.c_str(), "--package", package.c_str(), "add", "E:", "--title", "bench", "--replace",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const double t = Seconds(t0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "window_walk: %s add failed (status %d)\n", cli.c_str(), status);
    return t;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes{20000, 50000};
    std::string keep;
    int rounds = 3;
    std::string cli = (fs::canonical("/proc/self/exe").parent_path().parent_path() / "quindle-cli").string();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--sizes" && i + 1 < argc) {
            sizes.clear();
            std::stringstream ss(argv[++i]);
            for (std::string n; std::getline(ss, n, ',');) sizes.push_back(std::atoi(n.c_str()));
        } else if (a == "--cli" && i + 1 < argc) {
            cli = argv[++i];
        } else if (a == "--keep" && i + 1 < argc) {
            keep = fs::absolute(argv[++i]).string();
        } else if (a == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: window_walk [--sizes N,N,...] [--cli PATH] [--keep DIR] [--rounds N]\n");
            return 2;
        }
    }
    char tmpl[] = "/tmp/window_walk.XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const std::string root = tmpl;
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (root + "/share").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quindle"));
    QApplication::setOrganizationName(QStringLiteral("Tavrel"));
    QFont font = QApplication::font();
    font.setPointSize(8);
    QApplication::setFont(font);

    {
        // What one pump costs with nothing to do: the walks pump once per folder.
        const auto t0 = Clock::now();
        for (int i = 0; i < 20000; ++i) QCoreApplication::processEvents();
        std::printf("an idle pump: %.2f us\n", Seconds(t0) / 20000 * 1e6);
    }
    for (const int folders : sizes) {
        const std::string disk = (keep.empty() ? root : keep) + "/disk" + std::to_string(folders);
        const std::string stamp = disk + ".files";
        long files = 0;
        if (!keep.empty() && fs::exists(stamp)) {
            std::ifstream(stamp) >> files;
            std::printf("disk: %d folders, %ld files (kept)\n", folders, files);
        } else {
            fs::remove_all(disk);
            fs::create_directories(disk);
            const auto g0 = Clock::now();
            files = Generate(disk, folders);
            std::ofstream(stamp) << files;
            std::printf("disk: %d folders, %ld files (generated in %.1f s)\n", folders, files, Seconds(g0));
        }
        {
            QSettings s;
            s.setValue("Drives/E/path", QString::fromStdString(disk));
            s.setValue("Drives/E/serial", kSerial);
            s.sync();
        }
        const std::string cliPackage = root + "/cli-package";
        fs::create_directories(cliPackage);
        RunCli(cli, cliPackage); // warms the page cache
        Runs cliRuns;
        for (int r = 0; r < rounds; ++r) cliRuns.Add(RunCli(cli, cliPackage));

        // The core walk of Drive > Open, without a view.
        Runs coreRuns;
        for (int r = 0; r < rounds; ++r) {
            quindle::AppContext ctx;
            quindle::DriveInfo e;
            e.letter = 'E';
            e.root = disk;
            e.serial = kSerial;
            ctx.platform.SetDrives({e});
            quindle::TDirectoryOutline tree(ctx);
            quindle::TFileListBox lister(ctx);
            const auto t0 = Clock::now();
            quindle::ResetBrowsers(tree, lister, 'E');
            for (int i = 1; i <= tree.Lines().Count(); ++i) {
                tree.SetSelectedItem(i);
                tree.Items(i)->Expand();
                ctx.Pump();
            }
            coreRuns.Add(Seconds(t0));
            if (tree.ItemCount() != folders + 1)
                std::fprintf(stderr, "window_walk: the core walk saw %d folders\n", tree.ItemCount() - 1);
        }

        NonBlockingUi ui;
        const std::string program = root + "/prog" + std::to_string(folders);
        fs::create_directories(program);
        auto quindleApp = std::make_unique<quindle::Application>(ui, QString::fromStdString(program + "/quindle"));
        quindle::TMainForm& main = *quindleApp->MainForm;
        quindle::TCollectForm& coll = *quindleApp->CollectForm;
        main.show();
        QCoreApplication::processEvents();
        main.DriveComboBox1.SetDrive('E');
        QCoreApplication::processEvents();

        // Each walk `rounds` times, the best counted: the machine's other work only slows.
        Runs addRuns, openRuns;
        for (int r = 0; r < rounds; ++r) {
            const auto t0 = Clock::now();
            main.Add1Click();
            coll.Edit1->setText(QStringLiteral("bench"));
            coll.ActionButtonClick();
            QCoreApplication::processEvents();
            addRuns.Add(Seconds(t0));
            coll.hide();
            // (A disk memorized again has a second line: what changed.)
            const bool memorized =
                !ui.boxes.empty() && ui.boxes.back().startsWith(QStringLiteral("Ok, the disk has been memorized!"));
            if (!memorized)
                std::fprintf(stderr, "window_walk: Add ended with \"%s\"\n",
                             ui.boxes.empty() ? "" : ui.boxes.back().toUtf8().constData());
        }
        const auto rec = fs::path(program) / "data" / (std::to_string(kSerial) + ".dat");
        const auto cliRec = fs::path(cliPackage) / (std::to_string(kSerial) + ".dat");
        std::printf("  record: window %ju bytes, cli %ju bytes\n", static_cast<uintmax_t>(fs::file_size(rec)),
                    static_cast<uintmax_t>(fs::file_size(cliRec)));

        for (int r = 0; r < rounds; ++r) {
            const auto t0 = Clock::now();
            main.Open1Click();
            QCoreApplication::processEvents();
            openRuns.Add(Seconds(t0));
            if (main.DirectoryOutline1.ItemCount() != folders + 1)
                std::fprintf(stderr, "window_walk: Drive > Open shows %d folders\n",
                             main.DirectoryOutline1.ItemCount() - 1);
        }

        std::printf("  Package > Add (windows) %s\n  quindle-cli add         %s   ratio window/cli: %.2f\n",
                    addRuns.Text().c_str(), cliRuns.Text().c_str(), addRuns.Best() / cliRuns.Best());
        std::printf("  Drive > Open (windows)  %s\n  core walk               %s   ratio window/core: %.2f\n",
                    openRuns.Text().c_str(), coreRuns.Text().c_str(), openRuns.Best() / coreRuns.Best());
        std::fflush(stdout);
        quindleApp.reset();
        fs::remove_all(program);
        if (keep.empty()) fs::remove_all(disk);
    }
    fs::remove_all(root);
    return 0;
}
