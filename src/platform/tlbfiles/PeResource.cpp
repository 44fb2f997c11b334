// Finding a TYPELIB resource inside a PE32 / PE32+ or 16-bit NE image. Every
// offset read from the image is checked against it; the PE resource tree is
// walked with a fixed depth of three levels (type, name, language).
#include "platform/tlbfiles/PeResource.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "platform/tlbfiles/ByteReader.h"

namespace ole {
namespace {

constexpr uint32_t kHighBit = 0x80000000u;
constexpr size_t kMaxSections = 96;  // the format's own limit

struct Section {
    uint32_t virtualAddress = 0;
    uint32_t virtualSize = 0;
    uint32_t rawSize = 0;
    uint32_t rawPointer = 0;
};

class PeImage {
public:
    explicit PeImage(std::span<const std::byte> image) : image_(image) {}

    bool Parse() {
        ByteReader dos(image_);
        if (dos.U16() != 0x5A4D) return false;
        dos.Seek(0x3C);
        uint32_t ntOffset = dos.U32();
        if (!dos.ok()) return false;
        ByteReader nt(image_);
        nt.Seek(ntOffset);
        if (nt.U32() != 0x00004550) return false;  // "PE\0\0"
        nt.Skip(2);
        size_t sectionCount = nt.U16();
        nt.Skip(12);
        size_t optionalSize = nt.U16();
        nt.Skip(2);
        size_t optionalAt = nt.pos();
        uint16_t magic = nt.U16();
        if (!nt.ok() || sectionCount > kMaxSections) return false;
        size_t countAt, dirsAt;
        if (magic == 0x10B) {
            countAt = 92;
            dirsAt = 96;
        } else if (magic == 0x20B) {
            countAt = 108;
            dirsAt = 112;
        } else {
            return false;
        }
        ByteReader opt = ByteReader(image_).Sub(optionalAt, optionalSize);
        ByteReader count = opt.At(countAt);
        uint32_t dirCount = count.U32();
        if (!count.ok() || dirCount < 3) return false;
        ByteReader dir = opt.At(dirsAt + 2 * 8);
        resourceRva_ = dir.U32();
        resourceSize_ = dir.U32();
        if (!dir.ok() || resourceRva_ == 0) return false;

        ByteReader sec(image_);
        sec.Seek(optionalAt + optionalSize);
        sections_.reserve(sectionCount);
        for (size_t i = 0; i < sectionCount; ++i) {
            sec.Skip(8);
            Section s;
            s.virtualSize = sec.U32();
            s.virtualAddress = sec.U32();
            s.rawSize = sec.U32();
            s.rawPointer = sec.U32();
            sec.Skip(16);
            sections_.push_back(s);
        }
        if (!sec.ok()) return false;
        return MapRva(resourceRva_, 16, &root_);
    }

    // File offset of [rva, rva + length); false when it is not inside a section's raw data.
    bool MapRva(uint32_t rva, size_t length, size_t* offset) const {
        for (const Section& s : sections_) {
            uint64_t extent = std::max(s.virtualSize, s.rawSize);
            if (rva < s.virtualAddress || rva >= uint64_t{s.virtualAddress} + extent) continue;
            uint64_t within = rva - s.virtualAddress;
            if (within + length > s.rawSize) return false;
            uint64_t at = uint64_t{s.rawPointer} + within;
            if (at > image_.size() || length > image_.size() - at) return false;
            *offset = static_cast<size_t>(at);
            return true;
        }
        return false;
    }

    // Looks one level up: a named entry (name != nullptr) or an ID entry.
    // wantId 0xFFFFFFFF with no name takes a language entry by preference.
    bool FindEntry(size_t dirOffset, std::u16string_view name, uint32_t wantId, bool wantDirectory,
                   uint32_t* target) const {
        ByteReader d(image_);
        d.Seek(dirOffset);
        d.Skip(12);
        size_t named = d.U16();
        size_t ids = d.U16();
        if (!d.ok() || (named + ids) * 8 > d.remaining()) return false;
        bool byLanguage = name.empty() && wantId == kAnyLanguage;
        int bestRank = -1;
        uint32_t best = 0;
        for (size_t i = 0; i < named + ids; ++i) {
            uint32_t entryName = d.U32();
            uint32_t entryTarget = d.U32();
            bool isNamed = entryName & kHighBit;
            bool isDirectory = entryTarget & kHighBit;
            if (isDirectory != wantDirectory) continue;
            if (!name.empty()) {
                if (isNamed && NameEquals(entryName & ~kHighBit, name)) {
                    *target = entryTarget & ~kHighBit;
                    return true;
                }
            } else if (!isNamed) {
                uint32_t id = entryName & 0xFFFF;
                if (!byLanguage) {
                    if (id == wantId) {
                        *target = entryTarget & ~kHighBit;
                        return true;
                    }
                    continue;
                }
                // The user's language (en-US here), then neutral, then the first.
                int rank = id == 0x409 ? 3 : id == 0 ? 2 : 1;
                if (rank > bestRank) {
                    bestRank = rank;
                    best = entryTarget & ~kHighBit;
                }
            }
        }
        if (bestRank < 0) return false;
        *target = best;
        return true;
    }

    bool NameEquals(uint32_t offset, std::u16string_view want) const {
        ByteReader n(image_);
        n.Seek(root_ + offset);
        size_t len = n.U16();
        if (!n.ok() || len != want.size()) return false;
        for (char16_t w : want) {
            char16_t c = static_cast<char16_t>(n.U16());
            if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
            if (c != w) return false;
        }
        return n.ok();
    }

    HRESULT Find(unsigned resourceId, std::span<const std::byte>* out) const {
        uint32_t typeDir, nameDir, dataEntry;
        if (!FindEntry(root_, u"TYPELIB", 0, true, &typeDir)) return TYPE_E_CANTLOADLIBRARY;
        if (!Within(typeDir) || !FindEntry(root_ + typeDir, {}, resourceId, true, &nameDir))
            return TYPE_E_CANTLOADLIBRARY;
        if (!Within(nameDir) || !FindEntry(root_ + nameDir, {}, kAnyLanguage, false, &dataEntry))
            return TYPE_E_CANTLOADLIBRARY;
        if (!Within(dataEntry)) return TYPE_E_CANTLOADLIBRARY;
        ByteReader e(image_);
        e.Seek(root_ + dataEntry);
        uint32_t rva = e.U32();
        uint32_t size = e.U32();
        size_t offset = 0;
        if (!e.ok() || !MapRva(rva, size, &offset)) return TYPE_E_CANTLOADLIBRARY;
        *out = image_.subspan(offset, size);
        return S_OK;
    }

private:
    static constexpr uint32_t kAnyLanguage = 0xFFFFFFFFu;
    bool Within(uint32_t offset) const { return root_ + uint64_t{offset} < image_.size(); }

    std::span<const std::byte> image_;
    std::vector<Section> sections_;
    uint32_t resourceRva_ = 0;
    uint32_t resourceSize_ = 0;
    size_t root_ = 0;
};

// A 16-bit NE image: the resource table lists types, each with its resources;
// offsets and lengths are in units of 1 << shift bytes.
HRESULT FindNeResource(std::span<const std::byte> image, size_t neOffset, unsigned resourceId,
                       std::span<const std::byte>* out) {
    if (resourceId > 0x7FFF) return TYPE_E_CANTLOADLIBRARY;
    // The resource table runs up to the resident-name table that follows it.
    ByteReader ne(image);
    ne.Seek(neOffset + 0x24);
    size_t start = ne.U16();
    size_t end = ne.U16();
    if (!ne.ok() || end <= start) return TYPE_E_CANTLOADLIBRARY;
    size_t table = neOffset + start;
    ByteReader r = ByteReader(image).Sub(table, end - start);
    unsigned shift = r.U16();
    if (!r.ok() || shift > 16) return TYPE_E_CANTLOADLIBRARY;
    // Each type entry takes at least 8 bytes, which bounds the walk.
    while (r.ok()) {
        uint16_t typeId = r.U16();
        if (typeId == 0) break;
        size_t count = r.U16();
        r.Skip(4);
        if (!r.ok() || count * 12 > r.remaining()) return TYPE_E_CANTLOADLIBRARY;
        bool isTypeLib = false;
        if (!(typeId & 0x8000)) {
            ByteReader name = ByteReader(image).Sub(table, end - start);
            name.Seek(typeId);
            size_t len = name.U8();
            auto text = name.Bytes(len);
            constexpr std::string_view kTypeLib = "TYPELIB";
            if (name.ok() && len == kTypeLib.size()) {
                isTypeLib = true;
                for (size_t i = 0; i < len; ++i) {
                    char c = static_cast<char>(text[i]);
                    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
                    isTypeLib = isTypeLib && c == kTypeLib[i];
                }
            }
        }
        for (size_t i = 0; i < count; ++i) {
            uint64_t offset = uint64_t{r.U16()} << shift;
            uint64_t length = uint64_t{r.U16()} << shift;
            r.Skip(2);
            uint16_t id = r.U16();
            r.Skip(4);
            if (!isTypeLib || id != (0x8000u | resourceId)) continue;
            if (offset > image.size() || length > image.size() - offset) return TYPE_E_CANTLOADLIBRARY;
            *out = image.subspan(static_cast<size_t>(offset), static_cast<size_t>(length));
            return S_OK;
        }
    }
    return TYPE_E_CANTLOADLIBRARY;
}

}  // namespace

bool IsExecutableImage(std::span<const std::byte> image) {
    return image.size() >= 2 && image[0] == std::byte{'M'} && image[1] == std::byte{'Z'};
}

HRESULT FindTypeLibResource(std::span<const std::byte> image, unsigned resourceId,
                            std::span<const std::byte>* out) {
    if (!out) return E_POINTER;
    *out = {};
    if (resourceId > 0xFFFF) return TYPE_E_CANTLOADLIBRARY;
    ByteReader dos(image);
    dos.Seek(0x3C);
    uint32_t header = dos.U32();
    ByteReader sig(image);
    sig.Seek(header);
    if (dos.ok() && sig.U16() == 0x454E) return FindNeResource(image, header, resourceId, out);  // "NE"
    PeImage pe(image);
    if (!pe.Parse()) return TYPE_E_CANTLOADLIBRARY;
    return pe.Find(resourceId, out);
}

}  // namespace ole
