// What the GUI tests share: the names they use, and an application's own
// dialog class (a subclass of XbpDialog) whose HandleEvent runs the action
// scripted for an event's mp1 and notes what it saw.
#pragma once

#include <dlfcn.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "rowxpp/gui.h"
#include "xbp/testing.h"

using namespace rowxpp;
namespace xt = xbp::testing;
using xpp::Args;
using xpp::Array;
using xpp::Value;

// These tests read the base calls the classes make.
inline const bool kJournalOn = (xt::SetJournalling(true), true);

class ScriptDialog : public XbpDialog {
public:
    static xpp::Class& ClassObject() {
        static xpp::ClassSlot slot;
        return slot.Get("ScriptDialog", &XBPDIALOG());
    }
    xpp::Class& classObject() const override { return ClassObject(); }

    std::map<int64_t, std::function<void(ScriptDialog&)>> actions;
    std::vector<std::string> seen;
    std::vector<const xpp::Object*> focusSeen;  // identities: no reference back to the windows
    std::vector<Value> modalSeen;

    Value HandleEvent(int event, const Value& mp1, const Value& mp2) override {
        Value r = XbpDialog::HandleEvent(event, mp1, mp2);
        seen.push_back("handle " + std::to_string(event));
        focusSeen.push_back(xbp::SetAppFocus().Obj().get());
        modalSeen.push_back(IsModal);
        if (mp1.IsNum())
            if (auto it = actions.find(mp1.Int()); it != actions.end()) it->second(*this);
        return r;
    }

protected:
    template <class T>
    friend std::shared_ptr<T> xbp::New(Args);
    ScriptDialog() = default;
};

// Restores the mouse setting.
struct MouseGuard {
    bool kept = xbp::SetMouse();
    ~MouseGuard() { xbp::SetMouse(kept); }
};

// Maps library names to files for the life of the guard, then back.
class MapGuard {
public:
    void Map(const std::string& name, const std::string& file) {
        kept_.emplace_back(name, xpp::MappedLibrary(name));
        xpp::MapLibrary(name, file);
    }
    ~MapGuard() {
        for (auto it = kept_.rbegin(); it != kept_.rend(); ++it) xpp::MapLibrary(it->first, it->second);
    }

private:
    std::vector<std::pair<std::string, std::string>> kept_;
};

// The stub's call log, read past the runtime.
inline std::string StubLog() {
    void* h = dlopen(STUB_SYSCALLS, RTLD_NOW);
    auto log = reinterpret_cast<const char* (*)()>(dlsym(h, "StubLog"));
    std::string s = log();
    dlclose(h);
    return s;
}
inline void StubClear() {
    void* h = dlopen(STUB_SYSCALLS, RTLD_NOW);
    reinterpret_cast<void (*)()>(dlsym(h, "StubClear"))();
    dlclose(h);
}

// Notes every error handed to the error block, which answers `answer`.
class CapturedErrors {
public:
    explicit CapturedErrors(Value answer = Value())
        : kept_(xpp::ErrorBlock(xpp::Block([this, answer](Args& a) -> Value {
              errors.push_back(a.Get(1).As<xpp::Error>());
              return answer;
          }))) {}
    ~CapturedErrors() { xpp::ErrorBlock(kept_); }
    std::vector<std::shared_ptr<xpp::Error>> errors;

private:
    xpp::Block kept_;
};

