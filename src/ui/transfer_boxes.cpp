// The boxes of failed transfers: the network error box, which names the transfer and libcurl's or
// the server's reason, and the client's own failures (no libcurl handle, a file it cannot create).
#include "ui/transfer_boxes.h"

#include "platform/win32.h"
#include "ui/boxes.h"

namespace {

const wchar_t kNoHandleText[] = L"获取PatchList libcurl库初始化失败";
const wchar_t kNetworkErrorText[] = L"网络异常，错误信息：";

const wchar_t* PrefixOf(TransferKind kind) {
    return kind == TransferKind::PatchList ? L"获取PatchList" : L"下载Patch";
}

class BoxPrompts : public PatchListPrompts {
  public:
    void TransferFailed(const TransferOutcome& outcome) override {
        ShowTransferFailure(TransferKind::PatchList, outcome);
    }
    bool RetryWanted() override {
        return MessageBoxW(nullptr, L"获取更新列表失败，是否需要重试！", L"下载异常",
                           MB_OKCANCEL) == IDOK;
    }
};

}  // namespace

std::wstring TransferFailureText(TransferKind kind, const TransferOutcome& outcome) {
    const bool probe = kind == TransferKind::Probe;
    switch (outcome.error) {
        case TransferError::None:
            return std::wstring();
        case TransferError::NoHandle:
            return probe ? std::wstring() : kNoHandleText;
        case TransferError::LocalFile:
            return (probe ? L"can not create tmp file " : L"can not create file ") + outcome.path;
        case TransferError::Transfer:
            return probe ? std::wstring()
                         : PrefixOf(kind) + (kNetworkErrorText + outcome.description);
    }
    return std::wstring();
}

void ShowTransferFailure(TransferKind kind, const TransferOutcome& outcome) {
    const std::wstring text = TransferFailureText(kind, outcome);
    if (!text.empty()) {
        ShowNotice(text);
    }
}

PatchListPrompts& PatchListBoxes() {
    static BoxPrompts prompts;
    return prompts;
}
