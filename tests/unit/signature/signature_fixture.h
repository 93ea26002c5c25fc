// The signature tests' fixtures: keys, a patch list and signature files made by Debian's stock
// minisign (fixtures/make_fixtures.sh), and the small edits the cases make to them.
#pragma once

#include <sodium.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace qxtest {

inline std::string Fixture(const std::string& name) {
    std::ifstream in(QX_SOURCE_DIR "/tests/unit/signature/fixtures/" + name, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The base64 line of a .pub file.
inline std::string PublicKeyLine(const std::string& pubFile) {
    std::istringstream in(Fixture(pubFile));
    std::string line;
    std::getline(in, line);
    std::getline(in, line);
    return line;
}

// The lines of a signature file, without their "\n".
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

inline std::string Joined(const std::vector<std::string>& lines, const std::string& end = "\n") {
    std::string text;
    for (const std::string& line : lines) {
        text += line + end;
    }
    return text;
}

// The base64 line with its decoded bytes edited by `edit`, encoded again.
template <typename Edit>
std::string Reencoded(const std::string& base64, Edit edit) {
    std::vector<unsigned char> bytes(base64.size());
    size_t size = 0;
    sodium_base642bin(bytes.data(), bytes.size(), base64.data(), base64.size(), nullptr, &size,
                      nullptr, sodium_base64_VARIANT_ORIGINAL);
    bytes.resize(size);
    edit(bytes);
    std::string out(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(&out[0], out.size(), bytes.data(), size, sodium_base64_VARIANT_ORIGINAL);
    out.resize(out.size() - 1);  // the encoder's terminating zero
    return out;
}

}  // namespace qxtest
