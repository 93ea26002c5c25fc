// Runs one of the program's heavy operations on host paths and prints its wall time and its peak
// resident memory in bytes, so that the benchmark script can set them beside curl, unzip and cp
// doing the same work.
//   qxbench download URL CLIENT_DIR NAME   DownloadToFile into CLIENT_DIR/TmpPatch/NAME
//   qxbench extract ARCHIVE DEST           ExtractArchive
//   qxbench copytree SRC DST               CopyTree
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "fsutil/file_failure.h"
#include "fsutil/paths.h"
#include "fsutil/text.h"
#include "net/http_client.h"
#include "repair/archive/zip_file.h"
#include "repair/copy_tree.h"

namespace {

// A host path (UTF-8, whatever the ANSI code page is set to) in the program's Windows form: drive
// Z: is the host's root.
std::wstring ToWindowsPath(const char* hostPath) {
    std::string windows = std::string("Z:") + hostPath;
    for (char& c : windows) {
        if (c == '/')
            c = '\\';
    }
    std::wstring wide(windows.size(), L'\0');
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, windows.data(), static_cast<int>(windows.size()), &wide[0],
                            static_cast<int>(wide.size()));
    wide.resize(static_cast<size_t>(length > 0 ? length : 0));
    return wide;
}

bool Run(int argc, char** argv) {
    const std::string what = argv[1];
    if (what == "download" && argc == 5) {
        std::wstring name;
        AnsiToWide(argv[4], name);
        const std::wstring path = JoinPath(JoinPath(ToWindowsPath(argv[3]), L"TmpPatch"), name);
        return GetHttpClient()->DownloadToFile(argv[2], path, nullptr).Succeeded();
    }
    if (what == "extract" && argc == 4) {
        FileFailure failure;
        if (ExtractArchive(ToWindowsPath(argv[2]), ToWindowsPath(argv[3]), ProgressCallback{},
                           &failure)) {
            return true;
        }
        std::fprintf(stderr, "qxbench: %ls\n", DescribeFailure(failure).c_str());
        return false;
    }
    if (what == "copytree" && argc == 4) {
        return CopyTree(ToWindowsPath(argv[2]), ToWindowsPath(argv[3]));
    }
    std::fprintf(stderr,
                 "usage: qxbench download URL CLIENT_DIR NAME | extract ARCHIVE DEST | "
                 "copytree SRC DST\n");
    return false;
}

// The process's own peak resident memory (VmHWM): the kernel's count for a parent's rusage
// carries the memory of the process that started us from before it executed us.
long long PeakMemory() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, 6, "VmHWM:") == 0) {
            return std::stoll(line.substr(6)) * 1024;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return Run(1, argv) ? 0 : 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const bool ok = Run(argc, argv);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::fprintf(stdout, "%.4f %lld\n", elapsed.count(), PeakMemory());
    return ok ? 0 : 1;
}
