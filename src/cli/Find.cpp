// quindle-cli find: the disks whose record holds a word, as the search report counts.
#include "catalogue/DiskCatalogue.h"
#include "cli/Cli.h"
#include "package/Package.h"
#include "platform/CodePage.h"
#include "records/DiskRecord.h"
#include "records/PackageTitles.h"
#include "search/CountOccurrences.h"
#include "search/RecordLines.h"

namespace quindle::cli {

namespace {

// The entries whose name holds the word (ASCII case ignored, as the search counts the
// record: none outside it), each as
// <TAB>folder<TAB>name with the folder written as the program writes paths ("E:\Docs\Old").
void PrintCatalogueMatches(const Catalogue& c, const std::string& word) {
    const std::string folded = AnsiLowerCase(word);
    const std::string& root = c.header.figures.root;
    std::string line;
    ForEachEntryPath(c, '\\', [&](size_t i, std::string_view folder, std::string_view n) {
        if (!HoldsFolded(n, folded) || c.OutsideRecord(i)) return; // the record's entries, as counted
        line = "\t" + root;
        line += folder;
        line += '\t';
        AppendOneLine(line, n);
        line += '\n';
        Out(line);
    });
}

} // namespace

int Find(AppContext& ctx, const FindOptions& o) {
    const std::string& word = o.word;
    if (word.empty()) throw UsageError("the word is empty");
    const bool all = o.all, names = o.names;

    bool found = false, failed = false;
    TOccurrenceCounter counter; // one buffer for the whole package
    for (const std::string& name : PackageRecordFiles(ctx)) {
        const std::string path = ctx.PackageFolder + name;
        try {
            const int32_t n = counter.Count(path, word);
            if (n > 0) found = true;
            if (n == 0 && !all) continue;
            Out(std::to_string(n) + "\t" + SerialOfRecordName(name) + "\t" + ReadDiskInfo(path, ctx.InfoSection).title +
                "\n");
            if (!names || n == 0) continue;
            const TRecordText record(path);
            // A disk with a catalogue names each match with its full folder path.
            const DiskCatalogue disk = OpenDiskCatalogue(path, ctx.InfoSection);
            if (disk.catalogue) {
                PrintCatalogueMatches(*disk.catalogue, word);
                record.ForEachMatchingLine(word, ctx.InfoSection, [](const RecordLine& m) {
                    if (m.info) Out("\t" + std::string(m.section) + "\t" + std::string(m.header ? "" : m.text) + "\n");
                });
            } else {
                Message("disk " + SerialOfRecordName(name) + ": " + CatalogueProblemText(disk.problem) +
                        "; its matches are listed by the record's folders");
                // The key is the file name; a line of the information section shows whole.
                record.ForEachMatchingLine(word, ctx.InfoSection, [](const RecordLine& m) {
                    const std::string_view key = m.header ? std::string_view() : m.info ? m.text : m.key;
                    Out("\t" + std::string(m.section) + "\t" + std::string(key) + "\n");
                });
            }
        } catch (const std::exception& e) {
            Message(e.what());
            failed = true;
        }
    }
    return failed ? kError : (found ? kOk : kNotFound);
}

} // namespace quindle::cli
