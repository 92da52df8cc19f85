// The catalogue reader on arbitrary bytes: it either refuses them with a reason or gives a
// catalogue whose arrays hold every promise readers rely on (parents before children and
// folders, names inside the blob, folder sizes the sums of their contents, figures that
// match the entries), and that encodes back to the same catalogue. The header alone reads
// as the whole file's header.
//
// Input: the first byte chooses. Even: the rest is a catalogue file as it stands. Odd: the
// rest describes a catalogue (entries of kind, parent and name), which is written, then
// cut or changed at a place the input names, and read back: a checksum or a length must
// catch every change that makes it lie.
#include <cstdint>
#include <cstring>
#include <string>

#include "catalogue/CatalogueFile.h"

using namespace quindle;

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_catalogue: %s\n", what);
    std::abort();
}

void CheckInvariants(const Catalogue& c) {
    const size_t n = c.Count();
    if (n == 0 || c.nameStart.size() != n + 1 || c.kind.size() != n || c.size.size() != n || c.mtime.size() != n)
        Fail("column lengths");
    if (c.nameStart[0] != 0 || c.nameStart[n] != c.names.size() || c.parent[0] != kNoParent || !c.Name(0).empty() ||
        c.Kind(0) != EntryKind::Folder)
        Fail("root");
    std::vector<uint64_t> sums(n, 0);
    uint64_t folders = 0;
    for (size_t i = n; i-- > 0;) {
        if (c.nameStart[i] > c.nameStart[i + 1]) Fail("name offsets");
        if (c.kind[i] >= kEntryKindCount) Fail("kind");
        if (c.Kind(i) == EntryKind::Folder) {
            ++folders;
            if (c.size[i] != sums[i]) Fail("folder size");
        }
        if (i == 0) break;
        if (c.parent[i] >= i || c.Kind(c.parent[i]) != EntryKind::Folder) Fail("parent");
        if (c.Name(i).empty() || c.Name(i).find('/') != std::string_view::npos) Fail("name");
        if (c.Kind(i) == EntryKind::Folder || c.Kind(i) == EntryKind::File) sums[c.parent[i]] += c.size[i];
        (void)c.Path(i);
    }
    const DiskFigures& f = c.header.figures;
    if (f.folders != folders || f.files != n - folders || f.bytes != c.size[0]) Fail("figures");
}

void CheckFile(std::string_view bytes) {
    CatalogueProblem problem = CatalogueProblem::None;
    const auto cat = DecodeCatalogue(bytes, problem);
    CatalogueProblem headerProblem = CatalogueProblem::None;
    const auto header = DecodeCatalogueHeader(bytes, headerProblem);
    if (!cat) {
        if (problem == CatalogueProblem::None) Fail("refused without a reason");
        return;
    }
    if (problem != CatalogueProblem::None || !header) Fail("read whole but not its header");
    if (header->entryCount != cat->Count() || header->binding.digestLow != cat->header.binding.digestLow)
        Fail("header differs");
    CheckInvariants(*cat);
    const std::string again = EncodeCatalogue(*cat);
    const auto back = DecodeCatalogue(again, problem);
    if (!back || back->names != cat->names || back->parent != cat->parent || back->kind != cat->kind ||
        back->size != cat->size || back->mtime != cat->mtime || back->nameStart != cat->nameStart)
        Fail("round trip");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (!(data[0] & 1)) {
        CheckFile(rest);
        return 0;
    }
    // Described entries: a byte of kind (low 2 bits) and parent choice, a byte of name
    // length (1..8), the name; size and time from the same bytes.
    CatalogueBuilder b;
    std::vector<uint32_t> folders{0};
    size_t at = 0;
    while (at + 2 <= rest.size()) {
        const auto k = static_cast<uint8_t>(rest[at]);
        const size_t len = 1 + static_cast<uint8_t>(rest[at + 1]) % 8;
        at += 2;
        if (at + len > rest.size()) break;
        std::string name(rest.substr(at, len));
        at += len;
        for (char& ch : name)
            if (ch == '/' || ch == '\0') ch = '_';
        const uint32_t parent = folders[(k >> 2) % folders.size()];
        const auto kind = static_cast<EntryKind>(k & 3);
        const uint32_t i = b.Add(parent, name, kind, uint64_t(k) << (k % 40), int64_t(k) * 1000003 - 7000000);
        if (kind == EntryKind::Folder) folders.push_back(i);
    }
    DiskFigures f;
    f.fileSystem = "ext4";
    f.root = "E:\\";
    const Catalogue cat = b.Finish(f);
    std::string file = EncodeCatalogue(cat, 1);
    CatalogueProblem problem;
    const auto back = DecodeCatalogue(file, problem);
    if (!back || back->names != cat.names || back->size != cat.size || back->mtime != cat.mtime ||
        back->parent != cat.parent)
        Fail("a written catalogue does not read back");
    CheckInvariants(*back);
    // Damage it where the input says: cut, or change one byte.
    const size_t where = (size_t(data[0]) * 131 + rest.size()) % file.size();
    if (data[0] & 2)
        file.resize(where);
    else
        file[where] = static_cast<char>(file[where] ^ (1 + (data[0] >> 2)));
    CheckFile(file);
    return 0;
}
