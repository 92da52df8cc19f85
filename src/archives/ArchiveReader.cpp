// Listing archives with libarchive: the bytes come through our own callbacks (a file read
// with pread, memory, or a member of the archive around), so that every block read checks
// the listing's bounds and a nested archive is read from its container's data.
#include "archives/Archives.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "archives/ArchiveSniff.h"
#include "archives/MemberTree.h"
#include "archives/UdfImage.h"
#include "archives/ZipIndex.h"

namespace quindle {

std::optional<ArchiveMode> ParseArchiveMode(std::string_view text) {
    for (const ArchiveMode m : {ArchiveMode::None, ArchiveMode::Indexed, ArchiveMode::All})
        if (text == ArchiveModeName(m)) return m;
    return std::nullopt;
}

const char* ArchiveModeName(ArchiveMode mode) {
    switch (mode) {
    case ArchiveMode::None: return "none";
    case ArchiveMode::Indexed: return "indexed";
    case ArchiveMode::All: return "all";
    }
    return "indexed";
}

namespace {

using Clock = std::chrono::steady_clock;

// What one listing may still spend, shared by the archives inside the listed file.
class Budget {
public:
    explicit Budget(const ArchiveOptions& o)
        : options_(o), deadline_(Clock::now() + std::chrono::milliseconds(o.limits.maxMillis)) {}

    // False once a bound was met or the caller stopped the listing; Reason() says which.
    bool Check() {
        if (reason_) return false;
        if (Decompressed() > options_.limits.maxDecompressedBytes)
            reason_ = kBytesReason;
        else if (Clock::now() > deadline_)
            reason_ = kTimeReason;
        else if (options_.stop && options_.stop())
            reason_ = kStoppedReason;
        return reason_ == nullptr;
    }
    void Stop(const char* reason) {
        if (!reason_) reason_ = reason;
    }
    const char* Reason() const { return reason_; }

    // Member data read to look into a member or to list the archive it is.
    void Pulled(uint64_t n) { pulled_ += n; }
    // A compressed stream being listed: what it has given so far counts.
    void Watch(struct archive* a) { watched_.push_back(a); }
    void Unwatch(struct archive* a) {
        const auto it = std::find(watched_.begin(), watched_.end(), a);
        if (it == watched_.end()) return;
        pulled_ += Output(a);
        watched_.erase(it);
    }

private:
    static uint64_t Output(struct archive* a) {
        const la_int64_t n = archive_filter_bytes(a, 0);
        return n > 0 ? static_cast<uint64_t>(n) : 0;
    }
    uint64_t Decompressed() const {
        uint64_t n = pulled_;
        for (struct archive* a : watched_) n += Output(a);
        return n;
    }

    const ArchiveOptions& options_;
    Clock::time_point deadline_;
    uint64_t pulled_ = 0;
    std::vector<struct archive*> watched_;
    const char* reason_ = nullptr;
};

// Where libarchive's bytes come from.
class Source {
public:
    explicit Source(Budget& b) : budget(b) {}
    virtual ~Source() = default;
    virtual la_ssize_t Read(const void** buffer) = 0;
    virtual la_int64_t Skip(la_int64_t) { return 0; } // 0: libarchive reads instead
    virtual la_int64_t Seek(la_int64_t, int) { return ARCHIVE_FATAL; }
    virtual bool CanSeek() const { return false; }

    Budget& budget;
    bool failed = false; // the bytes beneath could not be read (not a bound)
};

// Positions for Skip and Seek over `size` bytes; nothing is read past the end.
la_int64_t SkipWithin(uint64_t& pos, uint64_t size, la_int64_t request) {
    if (request <= 0 || pos >= size) return 0;
    const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(request), size - pos);
    pos += n;
    return static_cast<la_int64_t>(n);
}

la_int64_t SeekWithin(uint64_t& pos, uint64_t size, la_int64_t offset, int whence) {
    la_int64_t base = 0;
    if (whence == SEEK_CUR)
        base = static_cast<la_int64_t>(pos);
    else if (whence == SEEK_END)
        base = static_cast<la_int64_t>(size);
    else if (whence != SEEK_SET)
        return ARCHIVE_FATAL;
    if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0) return ARCHIVE_FATAL;
    pos = static_cast<uint64_t>(base + offset);
    return static_cast<la_int64_t>(pos);
}

// A regular file's bytes, read with pread.
class FdBytes final : public ImageBytes {
public:
    FdBytes(int fd, uint64_t size) : fd_(fd), size_(size) {}
    uint64_t Size() const override { return size_; }
    size_t ReadAt(uint64_t offset, char* out, size_t n) override {
        size_t got = 0;
        while (got < n) {
            const ssize_t r = pread(fd_, out + got, n - got, static_cast<off_t>(offset + got));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            got += static_cast<size_t>(r);
        }
        return got;
    }

private:
    int fd_;
    uint64_t size_;
};

// A file, or a file inside an image, read by place. Blocks start small after a seek and grow
// while reading goes straight on (a compressed tarball is read whole). A zip's reader seeks
// to every member's header; what it then decompresses to look into the member is what the
// block holds, so a small first block keeps that to about what the look needs.
class FileSource final : public Source {
public:
    static constexpr size_t kFirstBlock = 512;

    FileSource(Budget& b, ImageBytes& bytes, size_t maxBlock)
        : Source(b), bytes_(bytes), size_(bytes.Size()), maxBlock_(std::max(maxBlock, kFirstBlock)) {}

    la_ssize_t Read(const void** buffer) override {
        if (pos_ >= size_) return 0;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(block_, size_ - pos_));
        if (buffer_.size() < want) buffer_.resize(want);
        const size_t n = bytes_.ReadAt(pos_, buffer_.data(), want);
        if (n == 0) {
            // Unreadable, or the file grew shorter since it was measured.
            failed = true;
            return ARCHIVE_FATAL;
        }
        pos_ += n;
        block_ = std::min(block_ * 2, maxBlock_);
        *buffer = buffer_.data();
        return static_cast<la_ssize_t>(n);
    }
    la_int64_t Skip(la_int64_t request) override {
        block_ = kFirstBlock;
        return SkipWithin(pos_, size_, request);
    }
    la_int64_t Seek(la_int64_t offset, int whence) override {
        block_ = kFirstBlock;
        return SeekWithin(pos_, size_, offset, whence);
    }
    bool CanSeek() const override { return true; }

private:
    ImageBytes& bytes_;
    uint64_t size_, pos_ = 0;
    size_t block_ = kFirstBlock, maxBlock_;
    std::vector<char> buffer_;
};

// Bytes in memory: the caller's, or an archive inside another read whole.
class MemorySource final : public Source {
public:
    MemorySource(Budget& b, std::string_view bytes) : Source(b), bytes_(bytes) {}

    la_ssize_t Read(const void** buffer) override {
        if (pos_ >= bytes_.size()) return 0;
        const size_t n = static_cast<size_t>(std::min<uint64_t>(bytes_.size() - pos_, 1u << 20));
        *buffer = bytes_.data() + pos_;
        pos_ += n;
        return static_cast<la_ssize_t>(n);
    }
    la_int64_t Skip(la_int64_t request) override { return SkipWithin(pos_, bytes_.size(), request); }
    la_int64_t Seek(la_int64_t offset, int whence) override { return SeekWithin(pos_, bytes_.size(), offset, whence); }
    bool CanSeek() const override { return true; }

private:
    std::string_view bytes_;
    uint64_t pos_ = 0;
};

// The data of the member the archive `outer` is at, after the bytes already read from it
// (`head`): an archive inside another, read as a stream.
class MemberSource final : public Source {
public:
    MemberSource(Budget& b, struct archive* outer, std::string head)
        : Source(b), outer_(outer), head_(std::move(head)), buffer_(64 * 1024) {}

    la_ssize_t Read(const void** buffer) override {
        if (headGiven_ < head_.size()) {
            *buffer = head_.data() + headGiven_;
            const size_t n = head_.size() - headGiven_;
            headGiven_ = head_.size();
            return static_cast<la_ssize_t>(n);
        }
        const la_ssize_t n = archive_read_data(outer_, buffer_.data(), buffer_.size());
        if (n < 0) {
            failed = true;
            return ARCHIVE_FATAL;
        }
        budget.Pulled(static_cast<uint64_t>(n));
        *buffer = buffer_.data();
        return n;
    }

private:
    struct archive* outer_;
    std::string head_;
    size_t headGiven_ = 0;
    std::vector<char> buffer_;
};

// libarchive's callbacks: C, so nothing may be thrown through them.
la_ssize_t ReadBlock(struct archive* a, void* data, const void** buffer) {
    auto* s = static_cast<Source*>(data);
    try {
        if (!s->budget.Check()) {
            archive_set_error(a, ECANCELED, "%s", s->budget.Reason());
            return ARCHIVE_FATAL;
        }
        return s->Read(buffer);
    } catch (...) {
        s->budget.Stop(kMemoryReason);
        archive_set_error(a, ENOMEM, "%s", kMemoryReason);
        return ARCHIVE_FATAL;
    }
}

la_int64_t SkipBytes(struct archive*, void* data, la_int64_t request) {
    return static_cast<Source*>(data)->Skip(request);
}

la_int64_t SeekTo(struct archive*, void* data, la_int64_t offset, int whence) {
    return static_cast<Source*>(data)->Seek(offset, whence);
}

// Names in the form the archive holds them: raw bytes where it keeps bytes (tar, cpio,
// zip without its UTF-8 mark), UTF-8 where it keeps characters (a zip's UTF-8 names, 7z,
// Joliet), whatever the caller's locale; libarchive takes the thread's character set.
class Utf8Names {
public:
    Utf8Names() {
        static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        if (utf8) old_ = uselocale(utf8);
    }
    ~Utf8Names() {
        if (old_) uselocale(old_);
    }
    Utf8Names(const Utf8Names&) = delete;
    Utf8Names& operator=(const Utf8Names&) = delete;

private:
    locale_t old_ = static_cast<locale_t>(nullptr);
};

struct ArchiveFree {
    void operator()(struct archive* a) const { archive_read_free(a); }
};
using ArchivePtr = std::unique_ptr<struct archive, ArchiveFree>;

// The formats a signature may be; only those are offered to libarchive, so a file is never
// read as something its first bytes did not show (libarchive's tar reader takes a block of
// zeros for an empty archive).
void Offer(struct archive* a, ArchiveSignature sig, bool stream) {
    switch (sig) {
    case ArchiveSignature::Zip:
        if (!stream) archive_read_support_format_zip_seekable(a);
        archive_read_support_format_zip_streamable(a);
        break;
    case ArchiveSignature::SevenZip: archive_read_support_format_7zip(a); break;
    case ArchiveSignature::Rar:
        archive_read_support_format_rar(a);
        archive_read_support_format_rar5(a);
        break;
    case ArchiveSignature::Cab: archive_read_support_format_cab(a); break;
    case ArchiveSignature::Tar: archive_read_support_format_tar(a); break;
    case ArchiveSignature::Cpio: archive_read_support_format_cpio(a); break;
    case ArchiveSignature::Iso9660: archive_read_support_format_iso9660(a); break;
    case ArchiveSignature::Compressed:
        // Only libraries, never an outside program: each of these is built into Debian's
        // libarchive.
        archive_read_support_filter_gzip(a);
        archive_read_support_filter_bzip2(a);
        archive_read_support_filter_xz(a);
        archive_read_support_filter_lzip(a);
        archive_read_support_filter_zstd(a);
        archive_read_support_filter_lz4(a);
        archive_read_support_filter_compress(a);
        archive_read_support_format_tar(a);
        archive_read_support_format_cpio(a);
        archive_read_support_format_iso9660(a);
        break;
    default: break;
    }
}

std::string FormatName(struct archive* a, ArchiveSignature sig) {
    std::string name;
    switch (archive_format(a) & ARCHIVE_FORMAT_BASE_MASK) {
    case ARCHIVE_FORMAT_ZIP: name = "zip"; break;
    case ARCHIVE_FORMAT_7ZIP: name = "7z"; break;
    case ARCHIVE_FORMAT_RAR:
    case ARCHIVE_FORMAT_RAR_V5: name = "rar"; break;
    case ARCHIVE_FORMAT_CAB: name = "cab"; break;
    case ARCHIVE_FORMAT_TAR: name = "tar"; break;
    case ARCHIVE_FORMAT_CPIO: name = "cpio"; break;
    case ARCHIVE_FORMAT_ISO9660: name = "iso9660"; break;
    default: name = SignatureName(sig); break;
    }
    if (archive_filter_count(a) > 1) {
        switch (archive_filter_code(a, 0)) {
        case ARCHIVE_FILTER_GZIP: name += ".gz"; break;
        case ARCHIVE_FILTER_BZIP2: name += ".bz2"; break;
        case ARCHIVE_FILTER_XZ: name += ".xz"; break;
        case ARCHIVE_FILTER_LZIP: name += ".lz"; break;
        case ARCHIVE_FILTER_ZSTD: name += ".zst"; break;
        case ARCHIVE_FILTER_LZ4: name += ".lz4"; break;
        case ARCHIVE_FILTER_COMPRESS: name += ".Z"; break;
        default: break;
        }
    }
    return name;
}

MemberKind KindOf(struct archive_entry* e) {
    switch (archive_entry_filetype(e)) {
    case AE_IFDIR: return MemberKind::Folder;
    case AE_IFLNK: return MemberKind::Link;
    case AE_IFCHR:
    case AE_IFBLK:
    case AE_IFIFO:
    case AE_IFSOCK: return MemberKind::Other;
    default: return MemberKind::File; // regular files, hard links, types a format leaves open
    }
}

bool Contains(const char* text, const char* what) { return text && std::strstr(text, what); }

// Which members of an archive are looked into for archives inside.
enum class Look : uint8_t { None, NamedLikeArchives, Every };

class Lister {
public:
    explicit Lister(const ArchiveOptions& o) : options_(o), limits_(o.limits), budget_(o) {}

    ArchiveListing RunFile(int fd, uint64_t size, ArchiveSignature sig) {
        // A small archive is read whole, at once: the reader then jumps from header to header
        // in memory, where each jump would otherwise cost a read of its own (a zip of a
        // hundred members: two hundred reads).
        if (size <= kReadWholeBytes) {
            // One buffer per thread, kept: a fresh one would be zeroed and faulted in page by
            // page for every archive.
            thread_local std::unique_ptr<char[]> buffer(new char[kReadWholeBytes]);
            // A file that shrank or cannot be read is left to the reader below, which says so.
            if (FdBytes(fd, size).ReadAt(0, buffer.get(), static_cast<size_t>(size)) == size)
                return RunBytes(std::string_view(buffer.get(), static_cast<size_t>(size)), sig);
        }
        // A compressed stream is read straight through: large blocks. Elsewhere the reader
        // jumps from header to header and reads little at each.
        FdBytes bytes(fd, size);
        FileSource src(budget_, bytes, sig == ArchiveSignature::Compressed ? (1u << 20) : (128u << 10));
        return Run(src, bytes, sig);
    }
    // Archives up to this size are read whole before they are listed.
    static constexpr uint64_t kReadWholeBytes = uint64_t{1} << 20;
    ArchiveListing RunBytes(std::string_view bytes, ArchiveSignature sig) {
        MemorySource src(budget_, bytes);
        MemoryImage image(bytes);
        return Run(src, image, sig, bytes);
    }

private:
    // `top` and `image`: the archive's bytes as a stream and by place; `whole`: all of them,
    // when they are in memory.
    ArchiveListing Run(Source& top, ImageBytes& image, ArchiveSignature sig, std::string_view whole = {}) {
        try {
            const Utf8Names utf8;
            listing_.archives[0].format = SignatureName(sig);
            const bool listed = !(options_.mode == ArchiveMode::Indexed && sig == ArchiveSignature::Compressed &&
                                  image.Size() > limits_.indexedStreamBytes);
            if (!(sig == ArchiveSignature::Zip && !whole.empty() && FromZipIndex(whole)) &&
                !((sig == ArchiveSignature::Udf || sig == ArchiveSignature::Iso9660) &&
                  FromUdf(image, 0, std::string(), sig == ArchiveSignature::Udf)))
                List(top, sig, 0, std::string(), listed);
            const ArchiveStatus s = listing_.Status();
            if (s == ArchiveStatus::Listed || s == ArchiveStatus::Partial) {
                if (!members_.Build(listing_, limits_.maxMembers) && s == ArchiveStatus::Listed)
                    SetStatus(0, ArchiveStatus::Partial, kMembersReason);
            }
            // The listing waits beside its folder's others until the walk takes them: no
            // room to spare from growing.
            listing_.members.shrink_to_fit();
            listing_.names.shrink_to_fit();
            return std::move(listing_);
        } catch (const std::bad_alloc&) {
            ArchiveListing failed;
            failed.archives[0].format = SignatureName(sig);
            failed.archives[0].status = ArchiveStatus::Error;
            failed.archives[0].reason = kMemoryReason;
            return failed;
        }
    }

    // Lists the zip `bytes` as archives[0] from its central directory, as List would in
    // indexed mode; false, with nothing done, when ZipIndex does not vouch for it or a
    // member would be looked into (named like an archive: libarchive reads its data).
    bool FromZipIndex(std::string_view bytes) {
        if (options_.mode != ArchiveMode::Indexed || !options_.zipIndex) return false;
        std::vector<ZipIndexEntry> entries;
        if (!ReadZipIndex(bytes, entries)) return false;
        if (limits_.maxDepth > 1)
            for (const ZipIndexEntry& e : entries) {
                if (e.kind != MemberKind::File || e.size < kMinArchiveBytes || e.encrypted) continue;
                path_.clear();
                if (AppendMemberPath(e.name, path_) == PathVerdict::Ok &&
                    LooksLikeArchiveName(std::string_view(path_).substr(path_.rfind('/') + 1)))
                    return false;
            }
        listing_.archives[0].format = "zip";
        for (size_t i = 0; i < entries.size(); ++i) {
            if (i % 1024 == 0 && !budget_.Check()) {
                SetStatus(0, ArchiveStatus::Partial, budget_.Reason());
                return true;
            }
            if (members_.Count() >= limits_.maxMembers || members_.PathBytes() > limits_.maxNameBytes) {
                budget_.Stop(kMembersReason);
                SetStatus(0, ArchiveStatus::Partial, kMembersReason);
                return true;
            }
            path_.clear();
            const PathVerdict v = AppendMemberPath(entries[i].name, path_);
            if (v == PathVerdict::Unsafe) ++listing_.droppedMembers;
            if (v == PathVerdict::Ok) members_.Add(path_, 0, entries[i].kind, entries[i].size, entries[i].mtime);
        }
        SetStatus(0, ArchiveStatus::Listed);
        return true;
    }

    // Lists `image` as archives[id] from its UDF volume, its members' paths starting with
    // `prefix`. `pure`: the image has no ISO 9660 part. True when archives[id] was dealt
    // with; false, with nothing left behind, when an image with an ISO 9660 part holds no
    // UDF volume or one that cannot be read: libarchive then reads its ISO 9660 part.
    bool FromUdf(ImageBytes& image, uint32_t id, const std::string& prefix, bool pure) {
        if (!pure && !HasUdfVolume(image)) return false;
        const size_t firstMember = members_.Count(), firstArchive = listing_.archives.size();
        const uint64_t dropped = listing_.droppedMembers;
        // An image is read by place: looking into a member costs only its first bytes.
        const Look look =
            options_.mode == ArchiveMode::All || listing_.archives[id].depth > 1 ? Look::Every : Look::NamedLikeArchives;
        const UdfOutcome o = ListUdf(image, [&](const UdfEntry& e) {
            if (!budget_.Check()) return false;
            if (members_.Count() >= limits_.maxMembers || members_.PathBytes() > limits_.maxNameBytes) {
                budget_.Stop(kMembersReason);
                return false;
            }
            path_ = prefix;
            const PathVerdict v = AppendMemberPath(e.path, path_);
            if (v == PathVerdict::Unsafe) ++listing_.droppedMembers;
            if (v != PathVerdict::Ok) return true;
            const uint32_t n = members_.Add(path_, id, e.kind, e.size, e.mtime);
            if (e.kind != MemberKind::File || e.size < kMinArchiveBytes ||
                listing_.archives[id].depth >= limits_.maxDepth ||
                (look == Look::NamedLikeArchives &&
                 !LooksLikeArchiveName(std::string_view(path_).substr(path_.rfind('/') + 1))))
                return true;
            UdfFileBytes member(image, e);
            NestedIn(member, n, id, path_ + '/');
            return budget_.Reason() == nullptr;
        });
        listing_.droppedMembers += o.droppedNames;
        if (o.result == UdfResult::Listed || o.result == UdfResult::Stopped) {
            listing_.archives[id].format = "udf";
            if (o.result == UdfResult::Listed)
                SetStatus(id, ArchiveStatus::Listed);
            else
                SetStatus(id, ArchiveStatus::Partial, budget_.Reason() ? budget_.Reason() : kStoppedReason);
            return true;
        }
        members_.Truncate(firstMember);
        listing_.archives.resize(firstArchive);
        listing_.droppedMembers = dropped;
        if (!pure) return false;
        SetStatus(id, ArchiveStatus::Error, o.result == UdfResult::Damaged ? kDamagedReason : kUnsupportedReason,
                  o.detail.c_str());
        return true;
    }

    void SetStatus(uint32_t id, ArchiveStatus s, const char* reason = "", const char* detail = nullptr) {
        ArchiveInfo& info = listing_.archives[id];
        info.status = s;
        info.reason = reason;
        info.detail = detail ? detail : "";
    }

    // Why libarchive gave up on archive `id`: a bound (partial), or the archive itself.
    void Failed(uint32_t id, struct archive* a, const Source& src, size_t firstMember) {
        if (budget_.Reason()) {
            SetStatus(id, ArchiveStatus::Partial, budget_.Reason());
            return;
        }
        const char* said = archive_error_string(a);
        const char* reason = src.failed                       ? kUnreadableReason
                             : archive_errno(a) == ENOMEM     ? kMemoryReason
                             : Contains(said, "ncrypt")       ? kEncryptedReason
                             : Contains(said, "nsupported") || Contains(said, "not supported") ? kUnsupportedReason
                                                                                                : kDamagedReason;
        SetStatus(id, ArchiveStatus::Error, reason, said);
        // A damaged archive stays a file: what was read of it goes.
        members_.Truncate(firstMember);
        listing_.archives.resize(id + 1);
    }

    // Lists the archive `src` holds (its first bytes showed `sig`) as archives[id]; its
    // members' paths start with `prefix`. `whole`: false when the mode does not list it,
    // and only its first member is read to tell whether it is an archive at all.
    void List(Source& src, ArchiveSignature sig, uint32_t id, const std::string& prefix, bool whole) {
        ArchivePtr owner(archive_read_new());
        struct archive* a = owner.get();
        if (!a) throw std::bad_alloc();
        Offer(a, sig, !src.CanSeek());
        archive_read_set_read_callback(a, ReadBlock);
        if (src.CanSeek()) {
            archive_read_set_skip_callback(a, SkipBytes);
            archive_read_set_seek_callback(a, SeekTo);
        }
        archive_read_set_callback_data(a, &src);
        const size_t firstMember = members_.Count();
        if (const int r = archive_read_open1(a); r != ARCHIVE_OK && r != ARCHIVE_WARN) {
            // A compressed stream that holds no archive (or none that can be read) is a
            // compressed file.
            if (sig == ArchiveSignature::Compressed && !budget_.Reason())
                SetStatus(id, ArchiveStatus::NotArchive);
            else
                Failed(id, a, src, firstMember);
            return;
        }
        struct Watching {
            Budget& b;
            struct archive* a;
            ~Watching() { b.Unwatch(a); }
        } watching{budget_, a};
        if (archive_filter_count(a) > 1) budget_.Watch(a);

        bool first = true;
        Look look = Look::None;
        for (;;) {
            if (!budget_.Check()) {
                SetStatus(id, ArchiveStatus::Partial, budget_.Reason());
                return;
            }
            struct archive_entry* e = nullptr;
            const int r = archive_read_next_header(a, &e);
            if (r == ARCHIVE_EOF) {
                // A compressed stream of zeros reads as an empty tar: it is no archive.
                SetStatus(id, first && sig == ArchiveSignature::Compressed ? ArchiveStatus::NotArchive
                                                                          : ArchiveStatus::Listed);
                if (!first || sig != ArchiveSignature::Compressed) listing_.archives[id].format = FormatName(a, sig);
                return;
            }
            // RETRY is a header that failed its checks (tar's checksum): the archive is damaged.
            if (r != ARCHIVE_OK && r != ARCHIVE_WARN) {
                Failed(id, a, src, firstMember);
                return;
            }
            if (first) {
                first = false;
                listing_.archives[id].format = FormatName(a, sig);
                if (!whole) {
                    SetStatus(id, ArchiveStatus::Skipped, kSkippedReason);
                    return;
                }
                // Looking into a member reads the start of its data. Where the listing
                // reads all data anyway (a compressed stream, an archive inside another),
                // or in mode All, every member is looked into. Indexed mode reads an
                // archive's index alone: it looks only into members named like archives, and
                // only in formats that reach a member's data without decoding the others'.
                const int base = archive_format(a) & ARCHIVE_FORMAT_BASE_MASK;
                look = options_.mode == ArchiveMode::All || listing_.archives[id].depth > 1 ||
                               archive_filter_count(a) > 1
                           ? Look::Every
                       : base == ARCHIVE_FORMAT_ZIP || base == ARCHIVE_FORMAT_TAR || base == ARCHIVE_FORMAT_CPIO ||
                               base == ARCHIVE_FORMAT_ISO9660
                           ? Look::NamedLikeArchives
                           : Look::None;
            }
            if (members_.Count() >= limits_.maxMembers || members_.PathBytes() > limits_.maxNameBytes) {
                budget_.Stop(kMembersReason);
                SetStatus(id, ArchiveStatus::Partial, kMembersReason);
                return;
            }
            Member(a, e, id, prefix, look);
            if (budget_.Reason()) {
                SetStatus(id, ArchiveStatus::Partial, budget_.Reason());
                return;
            }
        }
    }

    // Adds the member the archive `a` (archives[id]) is at, and lists it when it is an
    // archive itself.
    void Member(struct archive* a, struct archive_entry* e, uint32_t id, const std::string& prefix, Look look) {
        const char* name = archive_entry_pathname(e);
        if (!name) name = archive_entry_pathname_utf8(e);
        if (!name) {
            ++listing_.droppedMembers;
            return;
        }
        path_ = prefix;
        const PathVerdict v = AppendMemberPath(name, path_);
        if (v == PathVerdict::Unsafe) ++listing_.droppedMembers;
        if (v != PathVerdict::Ok) return;

        const MemberKind kind = KindOf(e);
        uint64_t size = archive_entry_size_is_set(e) && archive_entry_size(e) > 0
                            ? static_cast<uint64_t>(archive_entry_size(e))
                            : 0;
        if (kind == MemberKind::Link && size == 0)
            if (const char* target = archive_entry_symlink(e)) size = std::strlen(target);
        const int64_t mtime = archive_entry_mtime_is_set(e) ? static_cast<int64_t>(archive_entry_mtime(e)) : 0;
        link_.clear();
        if (const char* target = archive_entry_hardlink(e)) {
            link_ = prefix;
            if (AppendMemberPath(target, link_) != PathVerdict::Ok) link_.clear();
        }
        const uint32_t n = members_.Add(path_, id, kind, size, mtime, link_);
        if (look == Look::None || kind != MemberKind::File || size < kMinArchiveBytes ||
            listing_.archives[id].depth >= limits_.maxDepth || archive_entry_is_data_encrypted(e))
            return;
        if (look == Look::NamedLikeArchives && !LooksLikeArchiveName(std::string_view(path_).substr(path_.rfind('/') + 1))) return;
        Nested(a, n, id, path_ + '/', size);
    }

    // Reads member data until `out` holds `want` bytes or the member ends; false when it
    // cannot be read or a bound was met.
    bool ReadMember(struct archive* a, std::string& out, uint64_t want) {
        while (out.size() < want) {
            const size_t chunk = static_cast<size_t>(std::min<uint64_t>(want - out.size(), 1u << 20));
            const size_t had = out.size();
            out.resize(had + chunk);
            const la_ssize_t n = archive_read_data(a, out.data() + had, chunk);
            out.resize(had + static_cast<size_t>(std::max<la_ssize_t>(n, 0)));
            if (n < 0) return false;
            budget_.Pulled(static_cast<uint64_t>(n));
            if (n == 0) break;
            if (!budget_.Check()) return false;
        }
        return true;
    }

    // Member `n` of archives[parent], at `prefix` (its path and "/"), of `size` bytes:
    // listed as an archive when its first bytes show one.
    void Nested(struct archive* a, uint32_t n, uint32_t parent, std::string prefix, uint64_t size) {
        std::string head;
        if (!ReadMember(a, head, kSniffHeadBytes)) return; // unreadable data, or a bound met
        ArchiveSignature sig = SniffHead(head, size);
        if (sig == ArchiveSignature::Sector16) {
            if (!ReadMember(a, head, kVolumeDescriptorOffset + kVolumeDescriptorBytes)) return;
            sig = head.size() > kVolumeDescriptorOffset ? SniffVolumeDescriptor(head.substr(kVolumeDescriptorOffset))
                                                        : ArchiveSignature::None;
        }
        if (sig == ArchiveSignature::None) return;

        const uint32_t id = OpenNested(n, parent, sig);
        // Formats read by place (a zip's directory at its end, 7z's header, an image's
        // descriptors) are read into memory first, up to a bound.
        const bool byPlace = sig == ArchiveSignature::Zip || sig == ArchiveSignature::SevenZip ||
                             sig == ArchiveSignature::Udf || sig == ArchiveSignature::Iso9660;
        if (options_.mode == ArchiveMode::Indexed && size > limits_.indexedStreamBytes &&
            sig != ArchiveSignature::Compressed) {
            SetStatus(id, ArchiveStatus::Skipped, kSkippedReason);
        } else if (byPlace && size <= limits_.nestedBufferBytes) {
            std::string whole = std::move(head);
            whole.reserve(size); // at most nestedBufferBytes
            if (!ReadMember(a, whole, size)) {
                if (budget_.Reason())
                    SetStatus(id, ArchiveStatus::Partial, budget_.Reason());
                else
                    SetStatus(id, ArchiveStatus::Error, kDamagedReason, archive_error_string(a));
                return;
            }
            MemoryImage image(whole);
            if (!((sig == ArchiveSignature::Udf || sig == ArchiveSignature::Iso9660) &&
                  FromUdf(image, id, prefix, sig == ArchiveSignature::Udf))) {
                MemorySource src(budget_, whole);
                List(src, sig, id, prefix, true);
            }
        } else if (sig == ArchiveSignature::SevenZip || sig == ArchiveSignature::Udf) {
            SetStatus(id, ArchiveStatus::Error, kNestedTooLargeReason);
        } else {
            // Streamed from the container's data; a compressed one larger than indexed mode
            // lists is only opened to tell whether it holds an archive.
            MemberSource src(budget_, a, std::move(head));
            List(src, sig, id, prefix, !(options_.mode == ArchiveMode::Indexed && size > limits_.indexedStreamBytes));
        }
        CloseNested(n, id);
    }

    // Member `n` of archives[parent], at `prefix` (its path and "/"), whose bytes are
    // `member` (a file inside an image): listed as an archive when its first bytes show one.
    void NestedIn(ImageBytes& member, uint32_t n, uint32_t parent, const std::string& prefix) {
        const uint64_t size = member.Size();
        std::string head(kSniffHeadBytes, '\0');
        head.resize(member.ReadAt(0, head.data(), head.size()));
        ArchiveSignature sig = SniffHead(head, size);
        if (sig == ArchiveSignature::Sector16) {
            std::string sector(kVolumeDescriptorBytes, '\0');
            sector.resize(member.ReadAt(kVolumeDescriptorOffset, sector.data(), sector.size()));
            sig = SniffVolumeDescriptor(sector);
        }
        if (sig == ArchiveSignature::None) return;
        const uint32_t id = OpenNested(n, parent, sig);
        const bool listed = !(options_.mode == ArchiveMode::Indexed && size > limits_.indexedStreamBytes);
        if (!listed && sig != ArchiveSignature::Compressed) {
            SetStatus(id, ArchiveStatus::Skipped, kSkippedReason);
        } else if (!((sig == ArchiveSignature::Udf || sig == ArchiveSignature::Iso9660) &&
                     FromUdf(member, id, prefix, sig == ArchiveSignature::Udf))) {
            FileSource src(budget_, member, sig == ArchiveSignature::Compressed ? (1u << 20) : (128u << 10));
            List(src, sig, id, prefix, listed);
        }
        CloseNested(n, id);
    }

    // Member `n` of archives[parent] is an archive of signature `sig`: its entry in archives.
    uint32_t OpenNested(uint32_t n, uint32_t parent, ArchiveSignature sig) {
        const auto id = static_cast<uint32_t>(listing_.archives.size());
        ArchiveInfo info;
        info.depth = listing_.archives[parent].depth + 1;
        info.format = SignatureName(sig);
        listing_.archives.push_back(std::move(info));
        members_.MarkNested(n, id);
        return id;
    }
    // Member `n` is a file after all when archives[id] turned out to be none.
    void CloseNested(uint32_t n, uint32_t id) {
        if (listing_.archives[id].status != ArchiveStatus::NotArchive) return;
        listing_.archives.pop_back();
        members_.MarkNested(n, kNoIndex);
    }

    const ArchiveOptions& options_;
    const ArchiveLimits& limits_;
    Budget budget_;
    ArchiveListing listing_;
    MemberCollector members_;
    std::string path_, link_; // scratch
};

ArchiveListing NotAnArchive() { return ArchiveListing{}; }

// Up to `want` bytes at `offset`.
std::string ReadAt(int fd, uint64_t offset, size_t want) {
    std::string out(want, '\0');
    out.resize(FdBytes(fd, UINT64_MAX).ReadAt(offset, out.data(), want));
    return out;
}

// The signature of a file: its first bytes, and its volume descriptor when they ask for it.
ArchiveSignature SniffFile(int fd, uint64_t size) {
    const ArchiveSignature sig = SniffHead(ReadAt(fd, 0, kSniffHeadBytes), size);
    if (sig != ArchiveSignature::Sector16) return sig;
    return SniffVolumeDescriptor(ReadAt(fd, kVolumeDescriptorOffset, kVolumeDescriptorBytes));
}

} // namespace

ArchiveListing ListArchiveFd(int fd, const ArchiveOptions& options) {
    if (options.mode == ArchiveMode::None) return NotAnArchive();
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return NotAnArchive();
    const auto size = static_cast<uint64_t>(st.st_size);
    const ArchiveSignature sig = SniffFile(fd, size);
    if (sig == ArchiveSignature::None) return NotAnArchive();
    return Lister(options).RunFile(fd, size, sig);
}

ArchiveListing ListArchive(int dirfd, const char* name, uint64_t sizeHint, const ArchiveOptions& options) {
    if (options.mode == ArchiveMode::None || sizeHint < kMinArchiveBytes) return NotAnArchive();
    // Never a link, never waiting on a FIFO that took the file's place since the caller
    // looked; the access time stays as it was where the owner allows it (O_NOATIME), which
    // a disk of someone else's files refuses file after file: after a run of refusals this
    // thread stops asking for a while.
    thread_local unsigned refused = 0, plainOpens = 0;
    const int flags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    int fd = -1;
    if (plainOpens > 0) {
        --plainOpens;
        fd = openat(dirfd, name, flags);
    } else {
        fd = openat(dirfd, name, flags | O_NOATIME);
        if (fd < 0 && errno == EPERM) {
            if (++refused >= 8) {
                refused = 0;
                plainOpens = 256;
            }
            fd = openat(dirfd, name, flags);
        } else if (fd >= 0) {
            refused = 0;
        }
    }
    if (fd < 0) return NotAnArchive();
    struct stat st;
    ArchiveListing listing;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const auto size = static_cast<uint64_t>(st.st_size);
        const ArchiveSignature sig = SniffFile(fd, size);
        if (sig != ArchiveSignature::None) listing = Lister(options).RunFile(fd, size, sig);
    }
    close(fd);
    return listing;
}

ArchiveListing ListArchiveBytes(std::string_view bytes, const ArchiveOptions& options) {
    if (options.mode == ArchiveMode::None) return NotAnArchive();
    ArchiveSignature sig = SniffHead(bytes.substr(0, kSniffHeadBytes), bytes.size());
    if (sig == ArchiveSignature::Sector16)
        sig = bytes.size() > kVolumeDescriptorOffset
                  ? SniffVolumeDescriptor(bytes.substr(kVolumeDescriptorOffset, kVolumeDescriptorBytes))
                  : ArchiveSignature::None;
    if (sig == ArchiveSignature::None) return NotAnArchive();
    return Lister(options).RunBytes(bytes, sig);
}

} // namespace quindle
