// The title reader on arbitrary bytes against a plain model of its rules: the text split
// into lines at CR LF, a lone CR or a lone LF; the header is the first line equal to
// "[" + section + "]" ignoring case; its section runs to the first later line holding
// "["; the value is that of the first line of it whose text before its first "=" is the
// key (a line without "=" has the empty key and its whole text as value). The reader is
// asked twice in a row about the same file, so the remembered answer is checked too.
//
// Input: one byte of section length, the section, one byte of key length, the key, the
// rest is the file.
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "platform/CodePage.h"
#include "platform/Errors.h"
#include "records/PackageTitles.h"

using namespace quindle;
using namespace quindle::fuzz;

namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerByte(static_cast<unsigned char>(a[i])) != LowerByte(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

std::string ModelValue(std::string_view text, std::string_view section, std::string_view key) {
    const std::vector<std::string> lines = SplitLines(text);
    const std::string header = "[" + std::string(section) + "]";
    size_t h = 0;
    while (h < lines.size() && !SameIgnoringCase(lines[h], header)) ++h;
    for (size_t i = h + 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (line.find('[') != std::string_view::npos) break;
        const size_t eq = line.find('=');
        if ((eq == std::string_view::npos ? std::string_view() : line.substr(0, eq)) == key)
            return std::string(eq == std::string_view::npos ? line : line.substr(eq + 1));
    }
    return {};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const std::string section(in.Bytes(in.Byte() % 16));
    const std::string key(in.Bytes(in.Byte() % 8));
    const std::string_view file = in.Rest();
    const std::string expected = ModelValue(file, section, key);

    if (FindIniValue(file, section, key) != expected) Fail("FindIniValue differs from the model", file);
    // A reader per input: a file rewritten within one tick of the file system's clock keeps
    // its times, and the reader could not tell it from the one it remembered.
    TRecordTitleReader reader;
    const std::string path = ScratchFolder() + "/r.dat";
    WriteWhole(path, file);
    try {
        if (reader.Read(path, section, key) != expected) Fail("the reader differs from the model", file);
        if (reader.Read(path, section, key) != expected) Fail("the remembered answer differs", file);
    } catch (const EFileError& e) {
        Fail("a regular file was refused", e.what());
    }
    return 0;
}
