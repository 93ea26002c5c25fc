// libFuzzer target: the archive reader on untrusted bytes. Each input is written as an archive into
// a fresh folder and extracted below it; afterwards nothing may exist outside the destination but
// the archive itself, and no link may have been made.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "repair/archive/zip_file.h"

namespace fs = std::filesystem;

namespace {

// The program sees host paths through drive Z:.
std::wstring WindowsForm(const fs::path& path) {
    std::wstring out = L"Z:" + path.wstring();
    for (wchar_t& c : out) {
        if (c == L'/')
            c = L'\\';
    }
    return out;
}

const fs::path& Sandbox() {
    // Under $TMPDIR, which scripts/fuzz.sh points into the build folder.
    static const fs::path base = [] {
        std::string pattern = (fs::temp_directory_path() / "qxweb-fuzz-XXXXXX").string();
        return fs::path(mkdtemp(pattern.data()));
    }();
    return base;
}

void MakeWritable(const fs::path& root) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::end(it);
         it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
}

void CheckNothingEscaped(const fs::path& work, const fs::path& dest) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(Sandbox(), ec)) {
        if (entry.path() != work)
            __builtin_trap();  // written beside the work folder
    }
    for (const auto& entry : fs::directory_iterator(work, ec)) {
        if (entry.path() != dest && entry.path().filename() != "in.zip")
            __builtin_trap();
    }
    for (auto it = fs::recursive_directory_iterator(dest, ec); it != fs::end(it);
         it.increment(ec)) {
        if (it->is_symlink())
            __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fs::path work = Sandbox() / "work";
    const fs::path dest = work / "out";
    std::error_code ec;
    MakeWritable(work);
    fs::remove_all(work, ec);
    fs::create_directories(dest, ec);

    const fs::path archive = work / "in.zip";
    if (FILE* f = std::fopen(archive.c_str(), "wb")) {  // the host's own fopen: test scaffolding
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    ExtractArchive(WindowsForm(archive), WindowsForm(dest), ProgressCallback{});
    CheckNothingEscaped(work, dest);
    return 0;
}
