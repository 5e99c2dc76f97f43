#include "promptbox/prompt_text.h"

namespace {

void AppendCut(std::wstring& out, const std::wstring& text, size_t maxLength) {
    out.append(text, 0, maxLength);
}

}  // namespace

std::wstring RemoveAccessKeyMarks(const std::wstring& label) {
    std::wstring shown;
    shown.reserve(label.size());
    for (size_t i = 0; i < label.size(); ++i) {
        if (label[i] == L'&') {
            if (i + 1 < label.size() && label[i + 1] == L'&') {
                shown.push_back(L'&');
                ++i;
            }
            continue;
        }
        shown.push_back(label[i]);
    }
    return shown;
}

std::wstring FormatPromptCopyText(const std::wstring& title, const std::wstring* message,
                                  const std::vector<std::wstring>& buttonLabels) {
    std::wstring out = kPromptCopySeparator;
    AppendCut(out, title, kPromptCopyTitleMax);
    out += L"\r\n";
    out += kPromptCopySeparator;
    if (message != nullptr) {
        AppendCut(out, *message, kPromptCopyMessageMax);
        out += L"\r\n";
        out += kPromptCopySeparator;
    }
    for (const std::wstring& label : buttonLabels) {
        out += RemoveAccessKeyMarks(label.substr(0, kPromptCopyButtonMax));
        out += L"   ";
    }
    out += L"\r\n";
    out += kPromptCopySeparator;
    // The lengths above keep a box of twenty controls well inside the buffer; the
    // cut only guards against a future caller with more.
    if (out.size() > kPromptCopyBufferLength - 1) out.resize(kPromptCopyBufferLength - 1);
    return out;
}

std::wstring CountdownLabel(const wchar_t* label, int seconds) {
    std::wstring text = label != nullptr ? label : L"";
    text += L" = ";
    text += std::to_wstring(seconds);
    if (text.size() > 199) text.resize(199);
    return text;
}

std::wstring DisabledPeriodTitle(const wchar_t* caption, int seconds) {
    std::wstring text = caption != nullptr ? caption : L"";
    text += L' ';
    text += std::to_wstring(seconds);
    return text;
}

std::wstring HelpFilePathFor(const std::wstring& exePath) {
    const size_t slash = exePath.find_last_of(L"\\/");
    const size_t dot = exePath.find_last_of(L'.');
    // A dot in a folder name is not the program's extension.
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return {};
    return exePath.substr(0, dot) + L".hlp";
}
