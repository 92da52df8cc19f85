#include "ui/search/ReportCsv.h"

#include <QDir>
#include <QSaveFile>

#include "platform/CodePage.h"
#include "catalogue/EntryText.h"
#include "platform/Errors.h"
#include "ui/shared/CatalogueModels.h"
#include "ui/shared/RecordLinesModel.h"
#include "ui/shared/Text.h"

namespace quindle {

std::string CsvField(std::string_view utf8) {
    if (utf8.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(utf8);
    std::string out = "\"";
    for (const char c : utf8) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

TReportCsv::TReportCsv(bool withMatches) : withMatches_(withMatches) {
    text_ = withMatches ? "Disk,Serial,Count,Folder,Name,Path,Size,Date\r\n" : "Disk,Serial,Count\r\n";
}

void TReportCsv::Field(std::string_view bytes, bool last) {
    size_t latin1 = 0;
    text_ += CsvField(ShowableUtf8(bytes, &latin1));
    if (latin1) ++latin1Fields_;
    text_ += last ? "\r\n" : ",";
}

void TReportCsv::AddDisk(const TReportDisk& disk) {
    Field(disk.title, false);
    Field(disk.serial, false);
    Field(std::to_string(disk.count), !withMatches_);
    if (withMatches_) text_ += ",,,,\r\n";
}

void TReportCsv::AddMatch(const TReportDisk& disk, std::string_view folder, std::string_view name,
                          std::string_view path, std::string_view size, std::string_view date) {
    Field(disk.title, false);
    Field(disk.serial, false);
    Field(std::to_string(disk.count), false);
    Field(folder, false);
    Field(name, false);
    Field(path, false);
    Field(size, false);
    Field(date, true);
}

void TReportCsv::AddMatches(const TReportDisk& disk, const TRecordLinesModel& matches) {
    const int rows = matches.rowCount();
    if (rows == 0) AddDisk(disk);
    for (int r = 0; r < rows; ++r) AddMatch(disk, matches.FolderBytes(r), matches.NameBytes(r));
}

void TReportCsv::AddMatches(const TReportDisk& disk, const TCatalogueRowsModel& matches) {
    const int rows = matches.rowCount();
    if (rows == 0) AddDisk(disk);
    for (int r = 0; r < rows; ++r) {
        const int64_t e = matches.Entry(r);
        if (e < 0) {
            AddMatch(disk, matches.SectionBytes(r), matches.NameBytes(r));
            continue;
        }
        const Catalogue& c = matches.Index()->Cat();
        const auto i = static_cast<size_t>(e);
        AddMatch(disk, matches.SectionBytes(r), matches.NameBytes(r), matches.PathBytes(r), std::to_string(c.size[i]),
                 IsoUtc(c.mtime[i]));
    }
}

QString CsvFileNameFor(const std::string& word) {
    QString w = NameToQ(word);
    w.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("Search for ") + w + QStringLiteral(".csv");
}

bool SaveReportCsv(AppContext& ctx, UiServices& ui, QWidget* parent, const QString& suggested, const TReportCsv& csv) {
    const QString path = ui.GetSaveFileName(parent, QStringLiteral("Save the report as CSV"),
                                            QDir::home().filePath(suggested), QStringLiteral("CSV files (*.csv)"));
    if (path.isEmpty()) return false;
    // QSaveFile writes beside the target and renames the whole file over it at commit.
    QSaveFile file(path);
    const QByteArray bytes(csv.Text().data(), static_cast<qsizetype>(csv.Text().size()));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        ui.ShowError(parent, ToQ(Format("Cannot create file %s", FromQ(path))));
        return false;
    }
    ctx.Log("Report saved to " + FromQ(path));
    if (csv.Latin1Fields() > 0)
        ctx.Log(FromQ(Counted(csv.Latin1Fields(), "field", "fields")) + " not in UTF-8, saved as Latin-1");
    return true;
}

} // namespace quindle
