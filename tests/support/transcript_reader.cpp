// A reader for the layer's transcript: each line is one flat JSON object whose values are strings,
// numbers or booleans, which is all this small parser accepts.
#include "support/transcript_reader.h"

#include <cstdlib>
#include <fstream>

#include "platform/posix/codepage.h"

namespace qxtest {
namespace {

class LineParser {
  public:
    explicit LineParser(const std::string& line) : s_(line) {}

    bool Parse(TranscriptEvent& event) {
        if (!Expect('{')) {
            return false;
        }
        if (Peek() == '}') {
            return true;
        }
        while (true) {
            std::string key, value;
            if (!String(key) || !Expect(':') || !Value(value)) {
                return false;
            }
            event.fields[key] = value;
            if (Peek() == ',') {
                ++i_;
                continue;
            }
            return Expect('}');
        }
    }

  private:
    char Peek() {
        while (i_ < s_.size() && s_[i_] == ' ') {
            ++i_;
        }
        return i_ < s_.size() ? s_[i_] : '\0';
    }
    bool Expect(char c) {
        if (Peek() != c) {
            return false;
        }
        ++i_;
        return true;
    }
    unsigned long Hex4() {
        if (i_ + 4 > s_.size()) {
            return 0xFFFD;
        }
        const unsigned long v = std::strtoul(s_.substr(i_, 4).c_str(), nullptr, 16);
        i_ += 4;
        return v;
    }
    bool String(std::string& out) {
        if (!Expect('"')) {
            return false;
        }
        while (i_ < s_.size()) {
            const char c = s_[i_++];
            if (c == '"') {
                return true;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size()) {
                return false;
            }
            const char e = s_[i_++];
            switch (e) {
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'u': {
                    unsigned long cp = Hex4();
                    if (cp >= 0xD800 && cp < 0xDC00 && s_.compare(i_, 2, "\\u") == 0) {
                        i_ += 2;
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (Hex4() - 0xDC00);
                    }
                    out += qx::WideToUtf8(std::wstring(1, static_cast<wchar_t>(cp)));
                    break;
                }
                default:
                    out += e;
                    break;
            }
        }
        return false;
    }
    bool Value(std::string& out) {
        if (Peek() == '"') {
            return String(out);
        }
        while (i_ < s_.size() && s_[i_] != ',' && s_[i_] != '}') {
            out += s_[i_++];
        }
        while (!out.empty() && out.back() == ' ') {
            out.pop_back();
        }
        return !out.empty();
    }

    const std::string& s_;
    size_t i_ = 0;
};

bool IsControlEvent(const TranscriptEvent& event, int id) {
    return event.Get("id") == std::to_string(id) &&
           (event.Get("event") == "create" || event.Get("event") == "control");
}

}  // namespace

std::string TranscriptEvent::Get(const std::string& key) const {
    auto it = fields.find(key);
    return it == fields.end() ? std::string() : it->second;
}

std::vector<TranscriptEvent> ReadTranscript(const std::string& hostPath) {
    std::vector<TranscriptEvent> events;
    std::ifstream in(hostPath);
    std::string line;
    while (std::getline(in, line)) {
        TranscriptEvent event;
        if (!line.empty() && LineParser(line).Parse(event)) {
            events.push_back(event);
        }
    }
    return events;
}

ControlState FinalControlState(const std::vector<TranscriptEvent>& events, int id) {
    ControlState state;
    for (const TranscriptEvent& event : events) {
        if (!IsControlEvent(event, id)) {
            continue;
        }
        if (event.Get("event") == "create") {
            state = ControlState();
            state.created = true;
        }
        if (event.Has("text")) {
            state.text = event.Get("text");
        }
        if (event.Has("visible")) {
            state.visible = event.Get("visible") == "true";
        }
        if (event.Has("enabled")) {
            state.enabled = event.Get("enabled") == "true";
        }
        if (event.Has("pos")) {
            state.pos = std::atoi(event.Get("pos").c_str());
        }
    }
    return state;
}

std::vector<int> PositionsOf(const std::vector<TranscriptEvent>& events, int id) {
    std::vector<int> positions;
    for (const TranscriptEvent& event : events) {
        if (IsControlEvent(event, id) && event.Get("event") == "control" && event.Has("pos")) {
            positions.push_back(std::atoi(event.Get("pos").c_str()));
        }
    }
    return positions;
}

std::vector<std::string> TextsOf(const std::vector<TranscriptEvent>& events, int id) {
    std::vector<std::string> texts;
    for (const TranscriptEvent& event : events) {
        if (IsControlEvent(event, id) && event.Get("event") == "control" && event.Has("text")) {
            texts.push_back(event.Get("text"));
        }
    }
    return texts;
}

std::vector<Box> BoxesOf(const std::vector<TranscriptEvent>& events) {
    std::vector<Box> boxes;
    for (const TranscriptEvent& event : events) {
        if (event.Get("event") == "box") {
            boxes.push_back({event.Get("caption"), event.Get("text")});
        }
    }
    return boxes;
}

}  // namespace qxtest
