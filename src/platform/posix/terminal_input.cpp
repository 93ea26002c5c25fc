// The key reader: the terminal opened once (standard input, else /dev/tty), a thread that decodes
// bytes into keys while someone uses the keyboard, and the routing of each key to a box or to the
// dialog view. A pipe wakes the reader when the last user leaves, so it sleeps instead of
// taking keys meant for the shell.
#include "terminal_input.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "terminal_mode.h"

namespace qx {
namespace ui {
namespace {

// The time the rest of an escape sequence may take to arrive; after it, Esc was the key itself.
constexpr int kSequenceMs = 50;

bool ToDialogKey(const KeyPress& key, DialogKey* out) {
    if (key.key == Key::Enter) {
        *out = DialogKey::Enter;
    } else if (key.key == Key::Escape) {
        *out = DialogKey::Escape;
    } else if (key.key == Key::Char && (key.ch == 'q' || key.ch == 'Q')) {
        *out = DialogKey::Quit;
    } else {
        return false;
    }
    return true;
}

class KeyReader {
  public:
    static KeyReader& Get() {
        static auto* reader = new KeyReader();  // the reader thread uses it until the process ends
        return *reader;
    }

    bool Acquire() {
        std::lock_guard<std::mutex> lock(mutex_);
        OpenLocked();
        if (fd_ < 0 || eof_) {
            return false;
        }
        if (users_++ == 0) {
            EnterRawMode(fd_);
        }
        if (!readerStarted_) {
            readerStarted_ = true;
            std::thread([this] { ReadKeys(); }).detach();
        }
        changed_.notify_all();
        return true;
    }

    void Release() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (users_ > 0 && --users_ == 0) {
            RestoreTerminal();
            char wake = 0;
            ssize_t ignored = ::write(wakePipe_[1], &wake, 1);  // the reader goes back to sleep
            (void)ignored;
        }
    }

    void SetDialogListener(std::function<void(DialogKey)> listener) {
        std::lock_guard<std::mutex> lock(mutex_);
        dialogListener_ = std::move(listener);
    }

    void BeginBox() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++activeBoxes_;
        boxKeys_.clear();
    }

    void EndBox() {
        std::lock_guard<std::mutex> lock(mutex_);
        --activeBoxes_;
        boxKeys_.clear();
    }

    KeyPress WaitBoxKey() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !boxKeys_.empty() || eof_; });
        if (boxKeys_.empty()) {
            return {Key::End, 0};
        }
        KeyPress key = boxKeys_.front();
        boxKeys_.pop_front();
        return key;
    }

  private:
    KeyReader() {
        if (::pipe2(wakePipe_, O_CLOEXEC) != 0) {
            wakePipe_[0] = wakePipe_[1] = -1;
        }
    }

    void OpenLocked() {
        if (opened_) {
            return;
        }
        opened_ = true;
        if (::isatty(STDIN_FILENO)) {
            fd_ = STDIN_FILENO;
        } else {
            fd_ = ::open("/dev/tty", O_RDONLY | O_CLOEXEC);
        }
    }

    // Waits up to `ms` for a byte; false on time-out, end or error.
    bool ReadByte(unsigned char* byte, int ms, bool* ended) {
        struct pollfd fds[2] = {{fd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        int ready = ::poll(fds, wakePipe_[0] >= 0 ? 2 : 1, ms);
        if (ready <= 0) {
            return false;
        }
        if (fds[1].revents & POLLIN) {
            char drain[16];
            ssize_t ignored = ::read(wakePipe_[0], drain, sizeof drain);
            (void)ignored;
            if (!(fds[0].revents & POLLIN)) {
                return false;
            }
        }
        ssize_t n = ::read(fd_, byte, 1);
        if (n == 1) {
            return true;
        }
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
            *ended = true;
        }
        return false;
    }

    // One key: Enter, Esc alone, arrow sequences, Tab, or a plain character.
    KeyPress NextKey(bool* ended) {
        unsigned char byte = 0;
        if (!ReadByte(&byte, -1, ended)) {
            return {};
        }
        if (byte == '\r' || byte == '\n') {
            return {Key::Enter, 0};
        }
        if (byte == '\t') {
            return {Key::Tab, 0};
        }
        if (byte != 0x1b) {
            return {Key::Char, static_cast<char>(byte)};
        }
        unsigned char next = 0;
        bool ignored = false;
        if (!ReadByte(&next, kSequenceMs, &ignored)) {  // nothing follows at once: Esc itself
            return {Key::Escape, 0};
        }
        if (next != '[' && next != 'O') {
            return {};  // Alt with a key: not ours
        }
        unsigned char final = 0;
        while (ReadByte(&final, kSequenceMs, &ignored)) {  // parameters, then the final byte
            if (final >= 0x40 && final <= 0x7E) {
                break;
            }
        }
        if (final == 'C') {
            return {Key::Right, 0};
        }
        if (final == 'D') {
            return {Key::Left, 0};
        }
        return {};
    }

    void ReadKeys() {
        while (true) {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [this] { return users_ > 0; });
            }
            bool ended = false;
            KeyPress key = NextKey(&ended);
            if (ended) {
                EndInput();
                return;
            }
            if (key.key != Key::None) {
                Dispatch(key);
            }
        }
    }

    void Dispatch(const KeyPress& key) {
        std::function<void(DialogKey)> listener;
        DialogKey dialogKey = DialogKey::Enter;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (activeBoxes_ > 0) {
                boxKeys_.push_back(key);
                changed_.notify_all();
                return;
            }
            if (!dialogListener_ || !ToDialogKey(key, &dialogKey)) {
                return;
            }
            listener = dialogListener_;
        }
        listener(dialogKey);
    }

    void EndInput() {
        std::function<void(DialogKey)> listener;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            eof_ = true;
            listener = dialogListener_;
            changed_.notify_all();
        }
        if (listener) {
            listener(DialogKey::Quit);
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool opened_ = false;
    int fd_ = -1;
    bool eof_ = false;
    int users_ = 0;
    bool readerStarted_ = false;
    int wakePipe_[2] = {-1, -1};
    int activeBoxes_ = 0;
    std::deque<KeyPress> boxKeys_;
    std::function<void(DialogKey)> dialogListener_;
};

}  // namespace

bool AcquireKeyboard() {
    return KeyReader::Get().Acquire();
}

void ReleaseKeyboard() {
    KeyReader::Get().Release();
}

void SetDialogKeyListener(std::function<void(DialogKey)> listener) {
    KeyReader::Get().SetDialogListener(std::move(listener));
}

void BeginBoxKeys() {
    KeyReader::Get().BeginBox();
}

void EndBoxKeys() {
    KeyReader::Get().EndBox();
}

KeyPress WaitBoxKey() {
    return KeyReader::Get().WaitBoxKey();
}

}  // namespace ui
}  // namespace qx
