// A simulated power cut for the fault sweep, in the manner of SQLite's crash tests. While a fault
// of QXWEB_FAULTS cuts the power (WHAT "POWERCUT" or "POWERCUT_GARBAGE"), the layer remembers,
// for every regular file the process writes, from which offset its bytes have not been flushed
// yet (fsync of the file, or syncfs of its file system). When the fault fires, those bytes are
// lost, cut off the file or overwritten with garbage, and the process dies at once with SIGKILL.
//
// Names are kept: every create, rename and delete made before the cut stays. NTFS and ext4 journal
// their metadata and replay it in order, so after a real cut the names on the disk are a prefix
// of the changes made; this keeps the longest prefix, a SIGKILL at the same call (nothing lost)
// stands for the shortest once the data is flushed, and a cut at a rename for the ones between.
#pragma once

#include <optional>

#include <sys/types.h>

namespace qx {
namespace power_cut {

enum class Loss {
    Truncate,  // the file ends where its unflushed bytes began
    Garbage    // the unflushed bytes read as garbage, the length stays
};

// Starts remembering unflushed writes; called when a power-cut fault is added.
void Arm();
bool Armed();

// Held around a call that changes the data of the file behind fd (a write, a copy into it, a
// truncation): notes where the change starts and keeps a cut from landing in the middle of it.
// Costs nothing unless armed.
class ChangeScope {
  public:
    explicit ChangeScope(int fd);    // a write at the descriptor's write offset
    ChangeScope(int fd, off_t end);  // a truncation to `end`
    ~ChangeScope();
    ChangeScope(const ChangeScope&) = delete;
    ChangeScope& operator=(const ChangeScope&) = delete;

  private:
    ChangeScope(int fd, std::optional<off_t> end);  // no end: the write offset

    bool held_ = false;
};

// A flush that succeeded: of the file behind fd, or of the whole file system that holds it.
void NoteFileFlushed(int fd);
void NoteFileSystemFlushed(int fd);

// Loses every unflushed byte as `loss` says and kills the process.
[[noreturn]] void Cut(Loss loss);

}  // namespace power_cut
}  // namespace qx
