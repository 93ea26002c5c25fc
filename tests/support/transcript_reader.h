// Reading back the layer's transcript (QXWEB_TRANSCRIPT, one flat JSON object per line) in unit
// tests, so a test can compare what the user saw: boxes, control texts, visibility, bar positions.
#pragma once

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace qxtest {

// One event: its keys with string values unescaped (UTF-8) and numbers and booleans as written.
struct TranscriptEvent {
    std::map<std::string, std::string> fields;

    bool Has(const std::string& key) const { return fields.count(key) != 0; }
    std::string Get(const std::string& key) const;
};

// The state a control reached: its creation replayed with every later change.
struct ControlState {
    bool created = false;
    std::string text;
    bool visible = false;
    bool enabled = false;
    int pos = 0;
};

struct Box {
    std::string caption;
    std::string text;
    bool operator==(const Box& other) const {
        return caption == other.caption && text == other.text;
    }
};

inline std::ostream& operator<<(std::ostream& out, const Box& box) {
    return out << "{\"" << box.caption << "\": \"" << box.text << "\"}";
}

std::vector<TranscriptEvent> ReadTranscript(const std::string& hostPath);
ControlState FinalControlState(const std::vector<TranscriptEvent>& events, int id);
// Every "pos" the control was given, in order.
std::vector<int> PositionsOf(const std::vector<TranscriptEvent>& events, int id);
// Every "text" the control was given after its creation, in order.
std::vector<std::string> TextsOf(const std::vector<TranscriptEvent>& events, int id);
std::vector<Box> BoxesOf(const std::vector<TranscriptEvent>& events);

}  // namespace qxtest
