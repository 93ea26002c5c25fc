// Builds ZIP archives byte by byte for the tests: ordinary ones, zip64 ones, and hostile or
// damaged ones (any entry name, a wrong checksum or size, a flipped byte) that no regular writer
// would make.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qxtest {

class ZipBuilder {
  public:
    enum class Method { Stored, Deflated };

    // A file entry; the name is used byte for byte (it may hold "..", ":" or a NUL byte).
    ZipBuilder& File(const std::string& name, const std::string& data,
                     Method method = Method::Deflated);
    // A directory entry; a "/" is appended when the name does not end in a separator.
    ZipBuilder& Dir(const std::string& name);
    // The last entry added claims this uncompressed size instead of its real one (beyond 32 bits
    // only in a zip64 archive).
    ZipBuilder& ClaimSize(uint64_t size);
    // The last entry added stores its name without the UTF-8 flag (general-purpose bit 11), as
    // tools that write names in the system code page do; names are flagged otherwise.
    ZipBuilder& UnflaggedName();
    // Writes the archive in zip64 form: every size and offset in the zip64 extra fields, and the
    // zip64 end records, with placeholders in the classic fields.
    ZipBuilder& Zip64();

    // The whole archive.
    std::string Bytes() const;
    // Offset in Bytes() of the first byte of entry i's stored (maybe compressed) data.
    std::size_t DataOffset(std::size_t i) const;
    // Writes Bytes() to a host path; with flipOffset set, that byte is inverted first.
    void WriteTo(const std::string& hostPath) const;
    void WriteCorrupted(const std::string& hostPath, std::size_t flipOffset) const;

  private:
    struct Entry {
        std::string name;
        std::string stored;  // the bytes as they lie in the archive
        uint32_t crc = 0;
        uint64_t size = 0;
        uint16_t method = 0;
        bool directory = false;
        bool utf8 = true;
    };
    std::size_t LocalHeaderSize(const Entry& entry) const;

    std::vector<Entry> entries_;
    bool zip64_ = false;
};

}  // namespace qxtest
