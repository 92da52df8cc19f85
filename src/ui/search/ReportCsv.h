#pragma once
// The search report as a CSV file (RFC 4180): UTF-8, lines ended by CR LF, a field quoted
// when it holds a comma, a quote, CR or LF, with its quotes doubled. Columns Disk, Serial,
// Count; with the matches also Folder and Name, one line per record line holding the word,
// then Path, Size and Date: for a disk with a catalogue, one line per entry holding the
// word, with its full path (as the program writes paths), its size in bytes and its date
// (ISO 8601, UTC); Folder stays the record's section the entry lies in. A disk without a
// catalogue leaves those three empty.
// Record bytes that are not UTF-8 are written as their Latin-1 characters (ShowableUtf8),
// as the match list shows them, and counted, so that the saving can say so.
#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/AppContext.h"
#include "ui/app/UiServices.h"

class QWidget;

namespace quindle {

class TRecordLinesModel;
class TCatalogueRowsModel;

// One disk of the report, as the search found it.
struct TReportDisk {
    std::string title;      // the disk list's text: the title, or the serial (record bytes)
    std::string serial;     // the record's file name less ".dat"
    std::string recordPath; // host path of the record
    int32_t count = 0;
};

// One field as it stands in a line: quoted when it must be.
std::string CsvField(std::string_view utf8);

class TReportCsv {
public:
    explicit TReportCsv(bool withMatches);
    bool WithMatches() const { return withMatches_; }
    // A disk's line; with matches, its folder and name are empty (a disk without matches).
    void AddDisk(const TReportDisk& disk);
    // A line of one match (withMatches only).
    void AddMatch(const TReportDisk& disk, std::string_view folder, std::string_view name,
                  std::string_view path = {}, std::string_view size = {}, std::string_view date = {});
    // Every row the model shows, or the disk's own line when it shows none.
    void AddMatches(const TReportDisk& disk, const TRecordLinesModel& matches);
    void AddMatches(const TReportDisk& disk, const TCatalogueRowsModel& matches);

    const std::string& Text() const { return text_; }
    // Fields that held bytes that are not UTF-8.
    size_t Latin1Fields() const { return latin1Fields_; }

private:
    void Field(std::string_view bytes, bool last);
    bool withMatches_;
    std::string text_;
    size_t latin1Fields_ = 0;
};

// Asks for a file name (offering `suggested` in the home folder) and writes the CSV there,
// complete or not at all: the file appears under its name only once it is whole. Logs
// where it went; an error is shown as "Cannot create file <path>". True when saved.
bool SaveReportCsv(AppContext& ctx, UiServices& ui, QWidget* parent, const QString& suggested, const TReportCsv& csv);

// The name offered for a search word's CSV file: "Search for <word>.csv", with any "/" as "_".
QString CsvFileNameFor(const std::string& word);

} // namespace quindle
