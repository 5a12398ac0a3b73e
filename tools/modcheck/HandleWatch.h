// Watches the files that a sub-module opens while it serves one container, so that modcheck can
// tell whether each of them is closed exactly once.
//  - Never: a file handle that appeared during the container's calls and is still open after
//    CloseProc.
//  - Twice: when a call gives a handle back, modcheck takes the freed slot itself (a "canary", a
//    handle of its own on a file of its own; systems hand out the lowest free slot). A module that
//    closes that handle value again closes the canary, and the next look sees it gone.
// Only one container may be watched at a time, with no other thread opening files meanwhile.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "CheckSystem.h"

namespace modcheck {

class HandleWatch {
public:
    explicit HandleWatch(std::filesystem::path canaryFile);
    HandleWatch(const HandleWatch&) = delete;
    HandleWatch& operator=(const HandleWatch&) = delete;
    ~HandleWatch();

    // Before the container's first call.
    void Begin();
    // After each call into the sub-module, named for the report.
    void AfterCall(const std::string& call);
    // After CloseProc: notes the handles still open and releases the canaries.
    void End();

    const std::vector<std::string>& Problems() const { return problems_; }
    size_t FilesOpened() const { return filesOpened_; }

private:
    void Plant(sys::Handle slot);

    std::filesystem::path canaryFile_;
    sys::FileId canaryId_;
    bool canaryKnown_ = false;
    std::set<sys::Handle> before_, owned_, canaries_;
    std::vector<std::string> problems_;
    size_t filesOpened_ = 0;
};

}  // namespace modcheck
