#include "modules/ModuleRegistry.h"

namespace {

struct OpenCall {
    SubModuleOpenProc openProc;
    OpenRequest request;
    ContainerHandle* handle;
    void* owner;
    int32_t answer;
};

void OpenUnderGuard(void* context) {
    OpenCall& call = *static_cast<OpenCall*>(context);
    call.answer = call.openProc(call.request, call.handle, call.owner);
}

}  // namespace

int32_t ModuleRegistry::SelectModule(const ProbeRequest* request, int32_t* moduleIndex, ContainerHandle* handle,
                                     void* owner) const {
    if (!request || !moduleIndex || !handle || !owner) return 0;
    OpenRequest openRequest{};
    openRequest.ArchivePath = reinterpret_cast<const SM_WCHAR*>(request->archivePath);
    openRequest.Password = request->password;
    openRequest.Reserved1 = request->reserved1;
    openRequest.Reserved2 = request->reserved2;
    *moduleIndex = -1;
    const std::u16string path(request->archivePath);
    for (size_t i = 0; i < records_.size(); ++i) {
        const ModuleRecord& record = records_[i];
        if (request->forcedModuleIndex != -1 && size_t(request->forcedModuleIndex) != i) continue;
        if (request->extensionFiltering && !record.MatchesMasks(path)) continue;
        // Each module gets a fresh copy, so one module's changes never reach the next.
        OpenCall call{record.OpenProc, openRequest, handle, owner, 0};
        uint32_t exceptionCode = 0;
        if (!platform::CallGuarded(OpenUnderGuard, &call, exceptionCode)) call.answer = 0;
        if (call.answer != 0) {
            *moduleIndex = static_cast<int32_t>(i);
            return call.answer;
        }
    }
    return 0;
}
