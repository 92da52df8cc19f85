// A package of thousands of disks, timed through the real windows on the offscreen platform.
//
// Generates a program folder whose data/ holds 2,000 disk records (1,000 of about 50 KB and
// 1,000 of about 2 MB, hidden like the memorizer leaves them), then, with a warm cache:
//   baseline - open and read every record once into one reused buffer
//   start-up - QApplication, the four windows (the package dialog lists by title at its
//              creation), the main window shown and its events run
//   View     - Package > View: caption, refresh by title, the dialog shown
//   switch   - a click on "Volume Serials", then on "Titles", with the dialog shown
//   search   - a word counted in every disk, the report shown
// Prints each time in seconds, its goal, and its ratio to the baseline of the same run.
//
//   package_scale [--dir FOLDER] [--rounds N]
//   --dir keeps (and on later runs reuses) the package in FOLDER; --rounds repeats each
//   timed step N times (default 3) and prints the best and the first.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFont>
#include <QListWidget>
#include <QRadioButton>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "records/PackageTitles.h"
#include "ui/app/Application.h"
#include "ui/package/CollectForm.h"
#include "ui/main/MainForm.h"
#include "ui/search/SearchForm.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kSmall = 1000, kLarge = 1000;
constexpr size_t kSmallBytes = 50 * 1024, kLargeBytes = 2 * 1024 * 1024;
int kRounds = 3; // --rounds
const char* const kStamp = "package_scale.stamp";
const char* const kStampText = "2000 records, version 1\n";
const char* const kWord = "holiday";

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// A record as the memorizer and the package dialog leave it: a first empty line, one
// section per top-level folder with "name=position" lines, the information section last.
std::string MakeRecord(std::mt19937& rng, uint32_t serial, size_t bytes, int index) {
    static const char* const stems[] = {"Report", "Photo", "Holiday", "Invoice", "Music", "Track", "Setup",
                                        "Readme", "Letter", "Budget", "Scan", "Draft", "Notes", "Archive",
                                        "Backup", "Project", "Summary", "Thumbs", "Install", "Kernel"};
    static const char* const exts[] = {"txt", "doc", "jpg", "mp3", "exe", "dll", "pdf", "zip", "ini", "png"};
    static const char* const folders[] = {"Docs", "Music", "Pictures", "Program Files", "Games", "Work",
                                          "Backup", "Video", "Downloads", "Projects", "Mail", "Setup"};
    static const char* const titles[] = {"Holiday photos", "Backup", "Music collection", "Work archive",
                                         "Installers", "Old projects", "Scans", "Letters"};
    std::string s;
    s.reserve(bytes + 512);
    s += "\r\n[E:\\]\r\n";
    const size_t infoReserve = 300;
    int section = 0;
    int position = 1;
    while (s.size() + infoReserve < bytes) {
        // A new folder every few hundred lines, numbered once the names run out.
        if (position > 1 && rng() % 300 == 0) {
            std::string name = folders[section % 12];
            if (section >= 12) name += ' ' + std::to_string(section / 12);
            ++section;
            s += "\r\n[" + name + "]\r\n";
            position = 1;
        }
        s += stems[rng() % 20];
        s += '_';
        s += std::to_string(rng() % 1000);
        s += '.';
        s += exts[rng() % 10];
        s += '=';
        s += std::to_string(position++);
        s += "\r\n";
    }
    s += "\r\n[Special Information about this disk by Quindle]\r\n";
    s += "Volume Serial=" + std::to_string(serial) + "\r\n";
    char date[32];
    std::snprintf(date, sizeof date, "%02d/%02d/20%02d %02d:%02d:%02d", 1 + index % 28, 1 + index % 12,
                  10 + index % 17, index % 24, index % 60, (index * 7) % 60);
    s += std::string("Memorization Date=") + date + "\r\n";
    // Every fiftieth disk has no title and is listed by its serial.
    s += "Title=";
    if (index % 50 != 0) s += std::string(titles[index % 8]) + " " + std::to_string(index + 1);
    s += "\r\nDescription=Disk number " + std::to_string(index + 1) + "\r\nAdditional=\r\n";
    return s;
}

void Generate(const std::string& data) {
    fs::create_directories(data);
    for (const auto& e : fs::directory_iterator(data)) fs::remove(e.path());
    std::mt19937 rng(20261208);
    std::set<uint32_t> serials;
    quindle::Platform platform;
    for (int i = 0; i < kSmall + kLarge; ++i) {
        uint32_t serial;
        do serial = rng(); while (!serials.insert(serial).second);
        // Sizes alternate, so the list order mixes small and large records.
        const std::string text = MakeRecord(rng, serial, i % 2 ? kLargeBytes : kSmallBytes, i);
        const std::string path = data + std::to_string(serial) + ".dat";
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0) {
            std::fprintf(stderr, "package_scale: cannot write %s\n", path.c_str());
            std::exit(1);
        }
        platform.FileSetAttr(path, quindle::faArchive | quindle::faHidden);
    }
}

// Reads every record once: the least any command that looks into all of them must do.
double ReadAll(const std::vector<std::string>& files, size_t& bytes) {
    std::vector<char> buf(1 << 20);
    bytes = 0;
    const auto t0 = Clock::now();
    for (const auto& f : files) {
        const int fd = open(f.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        ssize_t n;
        while ((n = read(fd, buf.data(), buf.size())) > 0) bytes += static_cast<size_t>(n);
        close(fd);
    }
    return Seconds(t0, Clock::now());
}

// Shows dialogs without a modal loop: the window is shown and painted, and the caller
// goes on as if the user had left it open.
class NonBlockingUi : public quindle::UiServices {
public:
    int boxes = 0;
    int MessageDlg(QWidget*, const QString& text, const QString&, quindle::MsgIcon, quindle::MsgButtons) override {
        ++boxes;
        std::fprintf(stderr, "package_scale: message box: %s\n", text.toUtf8().constData());
        return quindle::mrOk;
    }
    int ShowModal(QDialog* d) override {
        d->show();
        QCoreApplication::processEvents();
        return quindle::mrNone;
    }
    void ShellOpen(const QString&) override {}
    QString GetSaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    void ShowError(QWidget*, const QString& message) override {
        ++boxes;
        std::fprintf(stderr, "package_scale: error: %s\n", message.toUtf8().constData());
    }
};

struct Row {
    const char* what;
    double best, first, goal; // seconds; goal 0: none
};

void Print(const Row& r, double baseline) {
    std::printf("%-28s %8.3f s (first %7.3f s)  %6.2fx baseline", r.what, r.best, r.first, r.best / baseline);
    if (r.goal > 0) std::printf("   goal < %.1f s: %s", r.goal, r.best < r.goal ? "met" : "MISSED");
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    std::string keep;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--dir" && i + 1 < argc) keep = argv[++i];
        else if (a == "--rounds" && i + 1 < argc) kRounds = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: package_scale [--dir FOLDER] [--rounds N]\n");
            return 2;
        }
    }
    std::string root;
    if (keep.empty()) {
        char tmpl[] = "/tmp/package_scale.XXXXXX";
        if (!mkdtemp(tmpl)) return 1;
        root = tmpl;
    } else {
        root = fs::absolute(keep).string();
        fs::create_directories(root);
    }
    const std::string data = root + "/data/";
    const std::string stamp = root + "/" + kStamp;

    // The settings of this run stay in the folder: window position, display mode, no drive mapping.
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (root + "/share").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    fs::remove_all(root + "/config");

    bool reuse = false;
    if (FILE* f = std::fopen(stamp.c_str(), "rb")) {
        char buf[64] = {};
        reuse = std::fread(buf, 1, sizeof buf - 1, f) > 0 && std::string(buf) == kStampText;
        std::fclose(f);
    }
    if (!reuse) {
        const auto g0 = Clock::now();
        std::printf("generating %d records in %s ...\n", kSmall + kLarge, data.c_str());
        std::fflush(stdout);
        Generate(data);
        if (FILE* f = std::fopen(stamp.c_str(), "wb")) {
            std::fputs(kStampText, f);
            std::fclose(f);
        }
        std::printf("generated in %.1f s\n", Seconds(g0, Clock::now()));
    }

    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(data))
        if (e.path().extension() == ".dat") files.push_back(e.path().string());
    std::sort(files.begin(), files.end());

    // Warm the cache, then the baseline: best of a few reads.
    size_t bytes = 0;
    ReadAll(files, bytes);
    double baseline = 1e9;
    for (int r = 0; r < kRounds; ++r) baseline = std::min(baseline, ReadAll(files, bytes));
    std::printf("package: %zu records, %.1f MB\n", files.size(), static_cast<double>(bytes) / 1e6);
    std::printf("%-28s %8.3f s  (%.0f MB/s)\n", "baseline: read every record", baseline,
                static_cast<double>(bytes) / 1e6 / baseline);

    // What listing by title costs below the dialog: every record's title, nothing shown.
    double titles = 1e9;
    for (int r = 0; r < kRounds; ++r) {
        quindle::TRecordTitleReader reader;
        const auto t0 = Clock::now();
        size_t named = 0;
        for (const auto& f : files) named += !reader.Read(f, "Special Information about this disk by Quindle").empty();
        titles = std::min(titles, Seconds(t0, Clock::now()));
        if (named == 0) std::fprintf(stderr, "package_scale: no record has a title\n");
    }

    std::vector<Row> rows;
    const auto s0 = Clock::now();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quindle"));
    QApplication::setOrganizationName(QStringLiteral("Tavrel"));
    QFont font = QApplication::font();
    font.setPointSize(8);
    QApplication::setFont(font);
    NonBlockingUi ui;
    const auto s1 = Clock::now();
    // The program file need not exist: its folder is the program folder, data/ the package.
    auto quindleApp = std::make_unique<quindle::Application>(ui, QString::fromStdString(root + "/quindle"));
    const auto s2 = Clock::now();
    quindleApp->MainForm->show();
    QCoreApplication::processEvents();
    const auto s3 = Clock::now();
    const double startup = Seconds(s0, s3);
    rows.push_back({"start-up until shown", startup, startup, 1.5});

    quindle::TMainForm& main = *quindleApp->MainForm;
    quindle::TCollectForm& coll = *quindleApp->CollectForm;
    if (coll.DiskCount() != static_cast<int>(files.size()))
        std::fprintf(stderr, "package_scale: the dialog lists %d disks, the folder holds %zu\n", coll.DiskCount(),
                     files.size());

    auto timed = [&](const char* what, double goal, const std::function<void()>& step,
                     const std::function<void()>& after = {}) {
        Row r{what, 1e9, 0, goal};
        for (int i = 0; i < kRounds; ++i) {
            const auto t0 = Clock::now();
            step();
            QCoreApplication::processEvents();
            const double t = Seconds(t0, Clock::now());
            if (i == 0) r.first = t;
            r.best = std::min(r.best, t);
            if (after) after();
        }
        rows.push_back(r);
    };

    timed("View (list by title, shown)", 0, [&] { main.View1Click(); }, [&] { coll.hide(); });
    main.View1Click();
    timed("switch to Volume Serials", 0.5, [&] { coll.DisplaySerials->click(); },
          [&] { coll.DisplayTitles->click(); });
    timed("switch to Titles", 0.5, [&] { coll.DisplayTitles->click(); }, [&] { coll.DisplaySerials->click(); });
    coll.DisplayTitles->click();
    coll.hide();
    QCoreApplication::processEvents();

    main.SearchEdit->setEditText(QString::fromLatin1(kWord));
    timed("search every disk", 2.0, [&] { main.SearchButtonClick(); },
          [&] { quindleApp->SearchForm->hide(); });

    // The report's total, so that a search which found nothing shows.
    long long found = 0;
    int reported = 0;
    const quindle::TSearchForm& report = *quindleApp->SearchForm;
    for (int r = 1; r < report.RowCount(); ++r, ++reported) found += report.Cell(1, r).toLongLong();
    std::printf("search for \"%s\": %d disks in the report, %lld occurrences\n", kWord, reported, found);
    std::printf("%-28s %8.3f s  %6.2fx baseline\n", "titles of every record", titles, titles / baseline);
    for (const Row& r : rows) Print(r, baseline);
    std::printf("start-up: QApplication %.3f s, the four windows %.3f s, showing %.3f s\n", Seconds(s0, s1),
                Seconds(s1, s2), Seconds(s2, s3));
    if (ui.boxes) std::printf("(%d message boxes or errors were shown; see above)\n", ui.boxes);

    quindleApp.reset();
    if (keep.empty()) fs::remove_all(root);
    return 0;
}
