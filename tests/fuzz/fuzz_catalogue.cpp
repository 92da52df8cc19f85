// The catalogue reader on arbitrary bytes: it either refuses them with a reason or gives a
// catalogue whose arrays hold every promise readers rely on (parents before children and
// parents folders or archives, flags that agree with their parents, notes and checksums
// where flagged, names inside the blob, folder sizes the sums of their contents, figures that
// match the entries), and that encodes back to the same catalogue. The header alone reads
// as the whole file's header.
//
// The same bytes as a file read the same through the file readers, which read the
// preamble and the header before the entries.
//
// Input: the first byte chooses.
//   0 (mod 4): the rest is a catalogue file as it stands.
//   2 (mod 4): the rest is a catalogue opened up (version 1 with bit 3 of the first byte set, else 2): two bytes (little-endian) of length L,
//     L bytes of header block as it is before compression, then the entries block's frame.
//     The header block is compressed with its checksum and the preamble's lengths are set,
//     so every count, size and claim of the header can be changed (the dictionary,
//     fuzz_catalogue.dict, names its fields and the values worth trying). With bit 2 of the
//     first byte set, the header's file count and entries size are made to agree with its
//     entry and folder counts and with the size the entries frame announces, so that large
//     claims get past the first checks to the later ones.
//   odd: the rest describes a catalogue (entries of kind, parent and name), which is
//     written, then cut or changed at a place the input names, and read back: a checksum
//     or a length must catch every change that makes it lie.
// The corpus starts from small catalogues the real writer wrote, in the first two forms.
#include <zstd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "catalogue/CatalogueFile.h"

using namespace quindle;
using quindle::fuzz::Fail;

namespace {

void CheckInvariants(const Catalogue& c) {
    const size_t n = c.Count();
    if (n == 0 || c.nameStart.size() != n + 1 || c.kind.size() != n || c.size.size() != n || c.mtime.size() != n ||
        c.flags.size() != n || (!c.checksums.empty() && c.checksums.size() != n))
        Fail("column lengths");
    if (c.nameStart[0] != 0 || c.nameStart[n] != c.names.size() || c.parent[0] != kNoParent || !c.Name(0).empty() ||
        c.Kind(0) != EntryKind::Folder || c.flags[0] != 0)
        Fail("root");
    std::vector<uint64_t> sums(n, 0);
    uint64_t folders = 0, files = 0, members = 0, hidden = 0, checksummed = 0, archives = 0, unlisted = 0,
             unread = 0;
    size_t noted = 0;
    for (size_t i = n; i-- > 0;) {
        const uint8_t f = c.flags[i];
        if (c.nameStart[i] > c.nameStart[i + 1]) Fail("name offsets");
        if (c.kind[i] >= kEntryKindCount) Fail("kind");
        if (f & ~kEntryFlagsKnown) Fail("flags");
        if ((f & (kEntryArchive | kEntryChecksummed | kEntryNoted)) && c.Kind(i) != EntryKind::File)
            Fail("archive, note or checksum on another kind");
        if ((f & kEntryChecksummed) && !c.ChecksumOf(i)) Fail("checksum");
        if (((f & kEntryNoted) != 0) != !c.Note(i).empty() || c.Note(i).size() > kMaxNoteBytes) Fail("note");
        noted += (f & kEntryNoted) ? 1 : 0;
        if (c.Kind(i) == EntryKind::Folder && c.size[i] != sums[i]) Fail("folder size");
        if (f & kEntryMember) ++members;
        else ++(c.Kind(i) == EntryKind::Folder ? folders : files);
        hidden += f & kEntryHidden ? 1 : 0;
        checksummed += f & kEntryChecksummed ? 1 : 0;
        archives += f & kEntryArchive ? 1 : 0;
        if ((f & kEntryNoted) && (f & kEntryArchive) && !(f & kEntryPartial)) ++unlisted;
        if ((f & kEntryNoted) && !(f & kEntryArchive)) ++unread;
        if (i == 0) break;
        const uint32_t p = c.parent[i];
        if (p >= i || !c.IsParent(p)) Fail("parent");
        if (((f & kEntryMember) != 0) != ((c.flags[p] & (kEntryMember | kEntryArchive)) != 0)) Fail("member");
        if (c.Hidden(p) && !(f & kEntryHidden)) Fail("hidden");
        if (c.Name(i).empty() || c.Name(i).find('/') != std::string_view::npos) Fail("name");
        if (SumsIntoParent(c, i)) sums[p] += c.size[i];
        (void)c.Path(i);
    }
    if (noted != c.notes.size()) Fail("notes");
    for (size_t k = 1; k < c.notes.size(); ++k)
        if (c.notes[k - 1].first >= c.notes[k].first) Fail("notes order");
    const DiskFigures& f = c.header.figures;
    if (f.folders != folders || f.files != files || f.bytes != c.size[0] || f.archiveMembers != members ||
        f.hiddenEntries != hidden || f.checksummed != checksummed || f.archivesUnlisted != unlisted ||
        f.archivesListed + f.archivesUnlisted != archives || f.contentUnread != unread)
        Fail("figures");
}

// The file readers on the same bytes: the same catalogue or the same reason.
void CheckFileReaders(std::string_view bytes, const std::optional<Catalogue>& cat, CatalogueProblem problem) {
    static const std::string path = quindle::fuzz::ScratchFolder() + "/c.cat";
    quindle::fuzz::WriteWhole(path, bytes);
    CatalogueProblem fileProblem = CatalogueProblem::None, headProblem = CatalogueProblem::None;
    const auto fromFile = ReadCatalogueFile(path, fileProblem);
    const auto head = ReadCatalogueHeaderFile(path, headProblem);
    if (fileProblem != problem || fromFile.has_value() != cat.has_value()) Fail("the file reader differs");
    if (cat && (fromFile->names != cat->names || fromFile->size != cat->size || fromFile->mtime != cat->mtime))
        Fail("the file reader reads another catalogue");
    if (cat && !head) Fail("a file read whole but not its header");
    if (!head && headProblem == CatalogueProblem::None) Fail("a header refused without a reason");
}

void CheckFile(std::string_view bytes) {
    CatalogueProblem problem = CatalogueProblem::None;
    const auto cat = DecodeCatalogue(bytes, problem);
    CatalogueProblem headerProblem = CatalogueProblem::None;
    const auto header = DecodeCatalogueHeader(bytes, headerProblem);
    CheckFileReaders(bytes, cat, problem);
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
        back->size != cat->size || back->mtime != cat->mtime || back->nameStart != cat->nameStart ||
        back->flags != cat->flags || back->notes != cat->notes || back->checksums != cat->checksums)
        Fail("round trip");
}

uint64_t GetU64(std::string_view s, size_t at) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= uint64_t(static_cast<uint8_t>(s[at + i])) << (8 * i);
    return v;
}
void SetU64(std::string& s, size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

// The file of an opened-up catalogue (see the top): the header block compressed with its
// checksum, the preamble's lengths those of the parts.
std::string Assemble(std::string_view opened, bool agree, uint32_t version) {
    if (opened.size() < 2) return {};
    const size_t len = static_cast<uint8_t>(opened[0]) | size_t(static_cast<uint8_t>(opened[1])) << 8;
    std::string header(opened.substr(2, len));
    const std::string_view entries = opened.substr(std::min(opened.size(), 2 + len));
    // Offsets in the header block: entry count 0, entries size 16, files 28, folders 36;
    // version 2's members 40 bytes before its end.
    if (agree && header.size() >= 44) {
        const uint64_t members = version == 2 && header.size() >= 44 + 48 ? GetU64(header, header.size() - 40) : 0;
        SetU64(header, 28, GetU64(header, 0) - GetU64(header, 36) - members);
        const unsigned long long announced = ZSTD_getFrameContentSize(entries.data(), entries.size());
        if (announced != ZSTD_CONTENTSIZE_UNKNOWN && announced != ZSTD_CONTENTSIZE_ERROR) SetU64(header, 16, announced);
    }
    std::string frame(ZSTD_compressBound(header.size()), '\0');
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, 1);
    const size_t n = ZSTD_compress2(cctx, frame.data(), frame.size(), header.data(), header.size());
    ZSTD_freeCCtx(cctx);
    if (ZSTD_isError(n)) Fail("cannot compress a header block");
    frame.resize(n);
    std::string file(kCatalogueMagic, sizeof kCatalogueMagic);
    for (const uint64_t v : {uint64_t(version), uint64_t(frame.size())})
        for (int i = 0; i < 4; ++i) file += static_cast<char>(v >> (8 * i));
    for (int i = 0; i < 8; ++i) file += static_cast<char>(uint64_t(entries.size()) >> (8 * i));
    return file + frame + std::string(entries);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    if ((data[0] & 3) == 0) {
        CheckFile(rest);
        return 0;
    }
    if ((data[0] & 3) == 2) {
        CheckFile(Assemble(rest, data[0] & 4, data[0] & 8 ? 1 : kCatalogueVersion));
        return 0;
    }
    // Described entries: a byte of kind (low 2 bits) and parent choice, a byte of name
    // length (1..8), the name; size and time from the same bytes. The name's first byte
    // flags the entry: bit 0 hidden, bit 1 an archive (a file; it holds what follows as a
    // folder does), bit 2 a partial listing, bit 3 a note, bit 4 a checksum (a file).
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
        const auto fl = static_cast<uint8_t>(name[0]);
        if (fl & 1) b.SetHidden(i);
        if ((fl & 2) && kind == EntryKind::File) b.SetArchive(i, fl & 4);
        // Short notes mostly; the longest run past the bound, which cuts them.
        if (fl & 8) b.SetNote(i, std::string(1 + (fl >> 4) * ((fl >> 4) == 15 ? 300 : 5), 'n'));
        if ((fl & 16) && kind == EntryKind::File) b.SetChecksum(i, Checksum128{fl, k});
        if (kind == EntryKind::Folder || ((fl & 2) && kind == EntryKind::File)) folders.push_back(i);
    }
    DiskFigures f;
    f.fileSystem = "ext4";
    f.root = "E:\\";
    const Catalogue cat = b.Finish(f);
    std::string file = EncodeCatalogue(cat, 1);
    CatalogueProblem problem;
    const auto back = DecodeCatalogue(file, problem);
    if (!back || back->names != cat.names || back->size != cat.size || back->mtime != cat.mtime ||
        back->parent != cat.parent || back->flags != cat.flags || back->notes != cat.notes ||
        back->checksums != cat.checksums)
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
