// The tests' ZIP writer: local headers, data, central directory and end record written by hand,
// deflating with zlib's raw deflate, so that every field can be made as wrong as a test needs.
#include "support/zip_builder.h"

#include "support/temp_dir.h"

#include <zlib.h>

#include <stdexcept>

namespace qxtest {
namespace {

void Put16(std::string& out, uint32_t value) {
    out.push_back(static_cast<char>(value & 0xff));
    out.push_back(static_cast<char>((value >> 8) & 0xff));
}

void Put32(std::string& out, uint32_t value) {
    Put16(out, value & 0xffff);
    Put16(out, value >> 16);
}

void Put64(std::string& out, uint64_t value) {
    Put32(out, static_cast<uint32_t>(value));
    Put32(out, static_cast<uint32_t>(value >> 32));
}

std::string RawDeflate(const std::string& data) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2");
    }
    std::string out(deflateBound(&stream, data.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (status != Z_STREAM_END) {
        throw std::runtime_error("deflate");
    }
    return out;
}

constexpr uint32_t kDosTime = 0;
constexpr uint32_t kDosDate = (44u << 9) | (1u << 5) | 1u;  // 2024-01-01
constexpr std::size_t kLocalHeaderSize = 30;
constexpr uint32_t kPlaceholder32 = 0xFFFFFFFF;  // "see the zip64 extra field"
constexpr uint32_t kPlaceholder16 = 0xFFFF;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint16_t kUtf8Flag = 0x0800;

}  // namespace

ZipBuilder& ZipBuilder::File(const std::string& name, const std::string& data, Method method) {
    Entry entry;
    entry.name = name;
    entry.crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    entry.size = data.size();
    entry.method = method == Method::Deflated ? 8 : 0;
    entry.stored = method == Method::Deflated ? RawDeflate(data) : data;
    entries_.push_back(entry);
    return *this;
}

ZipBuilder& ZipBuilder::Dir(const std::string& name) {
    Entry entry;
    entry.name = name;
    if (name.empty() || (name.back() != '/' && name.back() != '\\')) {
        entry.name += '/';
    }
    entry.directory = true;
    entries_.push_back(entry);
    return *this;
}

ZipBuilder& ZipBuilder::ClaimSize(uint64_t size) {
    entries_.back().size = size;
    return *this;
}

ZipBuilder& ZipBuilder::UnflaggedName() {
    entries_.back().utf8 = false;
    return *this;
}

ZipBuilder& ZipBuilder::Zip64() {
    zip64_ = true;
    return *this;
}

std::size_t ZipBuilder::LocalHeaderSize(const Entry& entry) const {
    return kLocalHeaderSize + entry.name.size() + (zip64_ ? 20 : 0);
}

std::string ZipBuilder::Bytes() const {
    const uint16_t version = zip64_ ? 45 : 20;
    std::string out;
    std::string central;
    for (const Entry& entry : entries_) {
        const uint64_t offset = out.size();
        const uint32_t nameLength = static_cast<uint32_t>(entry.name.size());
        const uint64_t storedLength = entry.stored.size();
        const uint16_t flags = entry.utf8 ? kUtf8Flag : 0;
        Put32(out, 0x04034b50);
        Put16(out, version);
        Put16(out, flags);
        Put16(out, entry.method);
        Put16(out, kDosTime);
        Put16(out, kDosDate);
        Put32(out, entry.crc);
        Put32(out, zip64_ ? kPlaceholder32 : static_cast<uint32_t>(storedLength));
        Put32(out, zip64_ ? kPlaceholder32 : static_cast<uint32_t>(entry.size));
        Put16(out, nameLength);
        Put16(out, zip64_ ? 20 : 0);
        out += entry.name;
        if (zip64_) {
            Put16(out, kZip64ExtraId);
            Put16(out, 16);
            Put64(out, entry.size);
            Put64(out, storedLength);
        }
        out += entry.stored;

        Put32(central, 0x02014b50);
        Put16(central, version);
        Put16(central, version);
        Put16(central, flags);
        Put16(central, entry.method);
        Put16(central, kDosTime);
        Put16(central, kDosDate);
        Put32(central, entry.crc);
        Put32(central, zip64_ ? kPlaceholder32 : static_cast<uint32_t>(storedLength));
        Put32(central, zip64_ ? kPlaceholder32 : static_cast<uint32_t>(entry.size));
        Put16(central, nameLength);
        Put16(central, zip64_ ? 28 : 0);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, entry.directory ? 0x10 : 0x20);
        Put32(central, zip64_ ? kPlaceholder32 : static_cast<uint32_t>(offset));
        central += entry.name;
        if (zip64_) {
            Put16(central, kZip64ExtraId);
            Put16(central, 24);
            Put64(central, entry.size);
            Put64(central, storedLength);
            Put64(central, offset);
        }
    }
    const uint64_t centralOffset = out.size();
    const uint64_t count = entries_.size();
    out += central;
    if (zip64_) {
        const uint64_t recordOffset = out.size();
        Put32(out, 0x06064b50);
        Put64(out, 44);  // the size of the rest of this record
        Put16(out, version);
        Put16(out, version);
        Put32(out, 0);
        Put32(out, 0);
        Put64(out, count);
        Put64(out, count);
        Put64(out, central.size());
        Put64(out, centralOffset);
        Put32(out, 0x07064b50);
        Put32(out, 0);
        Put64(out, recordOffset);
        Put32(out, 1);
    }
    Put32(out, 0x06054b50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, zip64_ ? kPlaceholder16 : static_cast<uint32_t>(count));
    Put16(out, zip64_ ? kPlaceholder16 : static_cast<uint32_t>(count));
    Put32(out, zip64_ ? kPlaceholder32 : static_cast<uint32_t>(central.size()));
    Put32(out, zip64_ ? kPlaceholder32 : static_cast<uint32_t>(centralOffset));
    Put16(out, 0);
    return out;
}

std::size_t ZipBuilder::DataOffset(std::size_t i) const {
    std::size_t offset = 0;
    for (std::size_t k = 0; k < i; ++k) {
        offset += LocalHeaderSize(entries_[k]) + entries_[k].stored.size();
    }
    return offset + LocalHeaderSize(entries_[i]);
}

void ZipBuilder::WriteTo(const std::string& hostPath) const {
    WriteHostFile(hostPath, Bytes());
}

void ZipBuilder::WriteCorrupted(const std::string& hostPath, std::size_t flipOffset) const {
    std::string bytes = Bytes();
    bytes.at(flipOffset) = static_cast<char>(~bytes.at(flipOffset));
    WriteHostFile(hostPath, bytes);
}

}  // namespace qxtest
