#include "promptbox/prompt_box.h"

#include <memory>

#include "promptbox/prompt_template.h"
#include "promptbox/remembered_answers.h"

PromptBoxParams PromptBoxDefaults;

namespace {

// Counts of 1000 seconds or more are taken for a slip and shortened to ten.
constexpr INT32 kLongestCountdown = 1000;
constexpr INT32 kShortenedCountdown = 10;

HWND OwnerOrActivePopup(HWND owner) {
    if (owner != nullptr) return owner;
    HWND active = ::GetActiveWindow();
    return active != nullptr ? ::GetLastActivePopup(active) : nullptr;
}

// A text given as a resource number, loaded; one given as a string, as it is.
const wchar_t* ResolveText(const wchar_t* text, HINSTANCE strings, std::unique_ptr<wchar_t[]>& storage) {
    if (text == nullptr || !IS_INTRESOURCE(text)) return text;
    storage.reset(new wchar_t[kPromptTextLength]());
    const UINT id = static_cast<UINT>(reinterpret_cast<ULONG_PTR>(text));
    if (::LoadStringW(strings != nullptr ? strings : ::GetModuleHandleW(nullptr), id, storage.get(),
                      kPromptTextLength - 1) <= 0) {
        storage[0] = L'\0';
    }
    return storage.get();
}

bool IsVersion6OrLater() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
#if defined(_MSC_VER)
#pragma warning(push)
#pragma warning(disable : 4996)  // GetVersionExW is deprecated but is what tells the look apart
#endif
    const BOOL known = ::GetVersionExW(&version);
#if defined(_MSC_VER)
#pragma warning(pop)
#endif
    return known && version.dwMajorVersion >= 6;
}

int ShowPromptBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style) {
    owner = OwnerOrActivePopup(owner);

    // A system-modal stop message goes to the system's own box, untouched.
    if ((style & MB_ICONHAND) && (style & MB_SYSTEMMODAL)) {
        std::unique_ptr<wchar_t[]> textStorage;
        std::unique_ptr<wchar_t[]> captionStorage;
        return ::MessageBoxW(owner, ResolveText(text, PromptBoxDefaults.stringsInstance, textStorage),
                             ResolveText(caption, PromptBoxDefaults.stringsInstance, captionStorage), style);
    }

    if (caption == nullptr) caption = L"Error";
    auto params = std::make_unique<PromptBoxParams>(PromptBoxDefaults);

    if (CheckBoxFlag(style) != 0 && params->moduleName != nullptr && params->moduleName[0] != L'\0') {
        // The answer belongs to the text the user reads, also when it came from a resource.
        std::unique_ptr<wchar_t[]> textStorage;
        const wchar_t* keyText = ResolveText(text, params->stringsInstance, textStorage);
        const UINT32 remembered = LookUpRememberedAnswer(*params, keyText != nullptr ? keyText : L"");
        if (IsFinalRememberedAnswer(remembered)) return static_cast<int>(remembered);
    }

    if (params->timeoutSeconds >= kLongestCountdown) params->timeoutSeconds = kShortenedCountdown;
    if (params->disabledSeconds >= kLongestCountdown) params->disabledSeconds = kShortenedCountdown;
    if (IsVersion6OrLater()) params->options |= PB_OPT_MODERNLOOK;

    CPromptTemplate box(owner, text, caption, style, *params);
    if ((style & PB_SILENT) == 0) ::MessageBeep(style & MB_ICONMASK);
    return box.ShowModal();
}

}  // namespace

int PromptBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style) {
    try {
        return ShowPromptBox(owner, text, caption, style);
    } catch (...) {
        // Callers are dialog procedures: no exception may reach them. Like a box
        // whose template memory could not be had, this reads as Cancel.
        return IDCANCEL;
    }
}
