// The registry of dialog templates: a small map filled at start-up, read by DialogBoxParamW.
#include "resources.h"

#include <map>
#include <mutex>

namespace qx {
namespace {

struct Templates {
    std::mutex lock;
    std::map<int, DialogTemplate> byId;
};

// Built on first use, so registrations from other files' static initialisers find it ready.
Templates& AllTemplates() {
    static auto* templates = new Templates();
    return *templates;
}

}  // namespace

void RegisterDialogTemplate(int id, const wchar_t* caption, int widthDlu, int heightDlu) {
    Templates& templates = AllTemplates();
    std::lock_guard<std::mutex> guard(templates.lock);
    DialogTemplate& entry = templates.byId[id];
    entry.caption = caption ? caption : L"";
    entry.widthDlu = widthDlu;
    entry.heightDlu = heightDlu;
}

bool FindDialogTemplate(int id, DialogTemplate* found) {
    Templates& templates = AllTemplates();
    std::lock_guard<std::mutex> guard(templates.lock);
    auto it = templates.byId.find(id);
    if (it == templates.byId.end()) {
        return false;
    }
    *found = it->second;
    return true;
}

}  // namespace qx
