// quindle-cli list: serial, title, date and description of every disk.
#include "cli/Cli.h"
#include "records/DiskRecord.h"
#include "records/PackageTitles.h"
#include "search/RecordLines.h"

namespace quindle::cli {

int List(AppContext& ctx) {
    int status = kOk;
    for (const std::string& name : PackageFiles(ctx)) {
        const std::string path = ctx.PackageFolder + name;
        try {
            const TRecordText record(path);
            if (!record.Present()) continue; // deleted since the listing
            const auto value = [&](const char* key) { return FindIniValue(record.Text(), ctx.InfoSection, key); };
            Out(SerialOfRecordName(name) + "\t" + value("Title") + "\t" + value("Memorization Date") + "\t" +
                value("Description") + "\n");
        } catch (const std::exception& e) {
            Message(e.what());
            status = kError;
        }
    }
    return status;
}

} // namespace quindle::cli
