// CountOccurrences on a file of arbitrary bytes against a plain reference count: the
// file's lines joined with CR LF after each, text and word upper-cased (ASCII letters
// only), matches counted leftmost first without overlapping.
//
// Input: one byte of word length, the word, the rest is the file.
#include <algorithm>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "platform/Errors.h"
#include "search/CountOccurrences.h"

using namespace quindle;
using namespace quindle::fuzz;

namespace {

std::string Upper(std::string_view s) {
    std::string u(s);
    for (char& c : u)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return u;
}

std::string JoinedLines(std::string_view t) {
    std::string out;
    size_t start = 0;
    while (start < t.size()) {
        size_t i = start;
        while (i < t.size() && t[i] != '\r' && t[i] != '\n') ++i;
        out.append(t.substr(start, i - start));
        out += "\r\n";
        if (i == t.size()) break;
        start = i + ((t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n') ? 2 : 1);
    }
    return out;
}

uint64_t ReferenceCount(std::string_view file, std::string_view word) {
    if (word.empty()) return 0;
    const std::string text = Upper(JoinedLines(file));
    const std::string w = Upper(word);
    uint64_t n = 0;
    auto it = text.begin();
    while ((it = std::search(it, text.end(), w.begin(), w.end())) != text.end()) {
        ++n;
        it += static_cast<std::ptrdiff_t>(w.size());
    }
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const std::string word(in.Bytes(in.Byte() % 24));
    const std::string_view file = in.Rest();
    const std::string path = ScratchFolder() + "/c.dat";
    WriteWhole(path, file);
    int32_t got = 0;
    try {
        got = CountOccurrences(path, word);
    } catch (const EFileError& e) {
        Fail("a readable file raised", e.what());
    }
    const uint64_t want = ReferenceCount(file, word);
    if (static_cast<uint64_t>(got) != want)
        Fail("count differs from the reference",
             "word '" + word + "' got " + std::to_string(got) + " want " + std::to_string(want));
    // The same text in memory, on every scan engine (already CR LF joined).
    const std::string joined = JoinedLines(file);
    for (auto engine : {TCountEngine::Auto, TCountEngine::Sse2, TCountEngine::Scalar})
        if (CountOccurrencesInText(joined, word, engine) != want) Fail("engine count differs", word);
    unlink(path.c_str());
    return 0;
}
