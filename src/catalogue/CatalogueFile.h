#pragma once
// The catalogue file: a fixed preamble, the header block and the entries block, each block
// one zstd frame with its content checksum (docs/catalogue.md has the layout). The header
// block is small, so the figures and the binding are read without touching the entries.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "catalogue/Catalogue.h"

namespace quindle {

constexpr char kCatalogueMagic[8] = {'Q', 'N', 'D', 'L', 'C', 'A', 'T', '\x1a'};
constexpr size_t kCataloguePreamble = 24; // magic, version, header block and entries block lengths

// Why a catalogue cannot be used. The texts (CatalogueProblemText) are what the program and
// the command line print.
enum class CatalogueProblem {
    None,
    Missing,      // "no catalogue"
    NotBound,     // "the catalogue does not belong to this record"
    Damaged,      // "the catalogue is damaged"
    Unsupported,  // "unsupported catalogue version"
    Unreadable,   // "the catalogue cannot be read" (permission, I/O error)
    NoRecord,     // "no record": the catalogue has nothing to belong to
    TooLarge,     // "the catalogue is too large for this computer's memory"
};
const char* CatalogueProblemText(CatalogueProblem p);

// The file's bytes. Throws std::length_error when the catalogue cannot be represented.
std::string EncodeCatalogue(const Catalogue& cat, int compressionLevel = 3);
// The entries' part of the file, compressed: the header (figures, binding) does not change
// it, so it can be made on another thread while the record is still being saved.
struct EncodedEntries {
    std::string frame;     // one zstd frame
    uint64_t rawBytes = 0; // its size uncompressed
};
EncodedEntries EncodeCatalogueEntries(const Catalogue& cat, int compressionLevel = 3);
// The whole file around entries encoded from the same catalogue before.
std::string EncodeCatalogue(const Catalogue& cat, const EncodedEntries& entries, int compressionLevel = 3);

// Parses a whole file's bytes; `problem` tells why when nothing is returned. Every length
// and count is checked against the bytes there are before anything is allocated for it;
// nothing throws for any input.
std::optional<Catalogue> DecodeCatalogue(std::string_view bytes, CatalogueProblem& problem);
// Parses the preamble and the header block only: `bytes` may end after the header block.
// `fileSize`, when given, receives the file size the preamble announces.
std::optional<CatalogueHeader> DecodeCatalogueHeader(std::string_view bytes, CatalogueProblem& problem,
                                                     uint64_t* fileSize = nullptr);

// Whole files. Reading a missing file gives Missing; a file whose size is not what its
// preamble gives is Damaged before its entries are read. Nothing throws for any file.
std::optional<Catalogue> ReadCatalogueFile(const std::string& path, CatalogueProblem& problem);
std::optional<CatalogueHeader> ReadCatalogueHeaderFile(const std::string& path, CatalogueProblem& problem);

// Writes the encoded catalogue to a new file `path` (created exclusively, mode `mode`) and
// makes it durable (fsync). Throws EFileError "Cannot create file %s" on any failure, after
// removing what it wrote.
void WriteCatalogueFile(const std::string& path, const Catalogue& cat, unsigned mode = 0666,
                        const EncodedEntries* entries = nullptr);

} // namespace quindle
