// Opening, probing and closing: which sub-module serves the archive, and the password flow.
#include "archive/ArchiveObject.h"

#include "modules/ProbeRequest.h"
#include "platform/Platform.h"

namespace {
constexpr int32_t kPasswordCapacity = 100;
}

ArchiveObject::ArchiveObject(const ArchiveEnvironment& environment) : environment_(environment) {}

ArchiveObject::~ArchiveObject() { Reset(); }

int32_t ArchiveObject::Offer(ProbeRequest& request, int32_t& index, ContainerHandle& handle) {
    const int32_t answer = environment_.registry->SelectModule(&request, &index, &handle, this);
    // Owned at once, so that any failure further on (out of memory included) still closes it.
    if (answer == 1) Keep(index, handle);
    return answer;
}

bool ArchiveObject::Open(const char16_t* path, bool prepare) {
    Reset();
    // One install of the fault guard for every module that is offered the file.
    platform::FaultGuardHold hold;
    char password[kPasswordCapacity] = {};
    int32_t index = -1;
    ContainerHandle handle = nullptr;
    ProbeRequest request;
    request.archivePath = path;
    request.extensionFiltering = *environment_.useExtensionFilters == 1;
    int32_t answer = Offer(request, index, handle);

    // A remembered password that the module refuses is stale: from then on the user is asked.
    bool rememberedRefused = false;
    while (answer == 2) {
        const char* remembered = rememberedRefused ? nullptr : environment_.passwords->Find(path);
        if (remembered) {
            request.password = remembered;
        } else {
            if (!environment_.askPassword || !environment_.askPassword(password, kPasswordCapacity)) return false;
            request.password = password;
        }
        request.forcedModuleIndex = index;
        answer = Offer(request, index, handle);
        if (answer == 1 && !remembered) {
            if (rememberedRefused) environment_.passwords->Replace(path, password);
            else environment_.passwords->Remember(path, password);
        }
        if (answer == 2 && remembered) rememberedRefused = true;
    }
    if (answer != 1) return false;
    archivePath_ = std::make_unique<std::u16string>(path);
    if (!prepare) return true;
    int32_t prepared = 0;
    auto prepareCall = [&] { prepared = ServingModule().PrepareProc(container_); };
    if (CallModule(u"PrepareProc", prepareCall) && prepared != 0) return true;
    // A refused container is the module's to release: it is never handed back to it.
    Forget();
    archivePath_.reset();
    return false;
}

void ArchiveObject::Keep(int32_t index, ContainerHandle handle) {
    entryIndex_ = -1;
    moduleIndex_ = index;
    container_ = handle;
    // Held while the container is: the guarded calls on it then install nothing.
    if (!guardHeld_) platform::HoldFaultGuard();
    guardHeld_ = true;
}

void ArchiveObject::Forget() {
    container_ = nullptr;
    moduleIndex_ = -1;
    if (guardHeld_) platform::ReleaseFaultGuard();
    guardHeld_ = false;
}

void ArchiveObject::Abandon(const char16_t* operation, uint32_t exceptionCode) {
    faulted_ = true;
    const size_t index = size_t(moduleIndex_);
    Forget();
    if (!environment_.reportFault) return;
    // Also reached from the destructor (CloseProc): a report that cannot be built is dropped.
    try {
        std::u16string text = environment_.registry->At(index).moduleName + u": " + operation + u" faulted";
        if (archivePath_) text += u" on " + *archivePath_;
        environment_.reportFault(text + u"\n" + platform::ExceptionText(exceptionCode));
    } catch (...) {
    }
}

void ArchiveObject::Reset() {
    // Extraction wrote into these directories until now, so only now do their times hold.
    directoryTimes_.Restore();
    if (container_) {
        if (moduleIndex_ >= 0 && size_t(moduleIndex_) < environment_.registry->Size()) {
            auto closeCall = [this] { ServingModule().CloseProc(container_); };
            CallModule(u"CloseProc", closeCall);
        }
        Forget();
    }
    archivePath_.reset();
    listed_ = ListedEntry{};  // its path was a view of archivePath_
    madeDirectories_.clear();
}
