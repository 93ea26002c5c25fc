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

}  // namespace

ZipBuilder& ZipBuilder::File(const std::string& name, const std::string& data, Method method) {
    Entry entry;
    entry.name = name;
    entry.crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    entry.size = static_cast<uint32_t>(data.size());
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

ZipBuilder& ZipBuilder::ClaimSize(uint32_t size) {
    entries_.back().size = size;
    return *this;
}

std::string ZipBuilder::Bytes() const {
    std::string out;
    std::string central;
    for (const Entry& entry : entries_) {
        const uint32_t offset = static_cast<uint32_t>(out.size());
        const uint32_t nameLength = static_cast<uint32_t>(entry.name.size());
        const uint32_t storedLength = static_cast<uint32_t>(entry.stored.size());
        Put32(out, 0x04034b50);
        Put16(out, 20);
        Put16(out, 0x0800);  // names are UTF-8
        Put16(out, entry.method);
        Put16(out, kDosTime);
        Put16(out, kDosDate);
        Put32(out, entry.crc);
        Put32(out, storedLength);
        Put32(out, entry.size);
        Put16(out, nameLength);
        Put16(out, 0);
        out += entry.name;
        out += entry.stored;

        Put32(central, 0x02014b50);
        Put16(central, 20);
        Put16(central, 20);
        Put16(central, 0x0800);
        Put16(central, entry.method);
        Put16(central, kDosTime);
        Put16(central, kDosDate);
        Put32(central, entry.crc);
        Put32(central, storedLength);
        Put32(central, entry.size);
        Put16(central, nameLength);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, entry.directory ? 0x10 : 0x20);
        Put32(central, offset);
        central += entry.name;
    }
    const uint32_t centralOffset = static_cast<uint32_t>(out.size());
    out += central;
    Put32(out, 0x06054b50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<uint32_t>(entries_.size()));
    Put16(out, static_cast<uint32_t>(entries_.size()));
    Put32(out, static_cast<uint32_t>(central.size()));
    Put32(out, centralOffset);
    Put16(out, 0);
    return out;
}

std::size_t ZipBuilder::DataOffset(std::size_t i) const {
    std::size_t offset = 0;
    for (std::size_t k = 0; k < i; ++k) {
        offset += kLocalHeaderSize + entries_[k].name.size() + entries_[k].stored.size();
    }
    return offset + kLocalHeaderSize + entries_[i].name.size();
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
