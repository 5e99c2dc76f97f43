#include "relocate/relocate_folder.h"

#include <shellapi.h>

#include <cstdarg>
#include <vector>

#include "app/app_globals.h"
#include "app/debug_log.h"
#include "app/dialog_support.h"
#include "app/unique_resource.h"
#include "junction/junction.h"
#include "promptbox/prompt_box.h"
#include "relocate/access_scan.h"
#include "relocate/folder_move.h"
#include "relocate/in_use_probe.h"
#include "relocate/relocation_paths.h"
#include "resources/resource.h"

namespace {

constexpr int kMessageCapacity = 1024;

constexpr wchar_t kNoSource[] = L"Please supply a source directory name.";
constexpr wchar_t kNoTarget[] = L"Please supply a destination directory name.";
constexpr wchar_t kWorkerFailed[] = L"Critical error - No changes made";
constexpr wchar_t kScanFailed[] =
    L"One or more files are in use or insufficient rights exist. This folder can not be relocated.";
constexpr wchar_t kSystemFilesCaption[] = L"Dirshift";
constexpr wchar_t kSystemFilesQuestion[] =
    L"One or more files have the SYSTEM attribute and may be system protected. You may need elevated rights or "
    L"permissions to continue with them, but we'll try anyway. Click Yes if you want to try anyway.";
constexpr wchar_t kSourceNotFolder[] =
    L"Either the source folder does not exist, is actually a file or link, or you do not have sufficient access to "
    L"it. The opration can not continue.";
constexpr wchar_t kReadOnlySource[] = L"ERROR: The source directory is read-only and changing the attribute failed.";
constexpr wchar_t kSourceInUse[] =
    L"ERROR: It appears that there is either a file in use in this folder, or a permission issue exist. This folder "
    L"can not be moved.";
constexpr wchar_t kMoveFailed[] =
    L"Moving of files failed. Automatic Dirshift could not be acccomplished Perhaps one or more files are in use or "
    L"you are messing with system protected folders? Attempting to move files back.";
constexpr wchar_t kNotRestored[] =
    L"Files may not be fully restored. You may need to manually copy the files from the new destination back to the "
    L"source directory.";
constexpr wchar_t kRestored[] = L"Files restored.";
constexpr wchar_t kProgressTitle[] = L"Moving folder contents to new destination ...";
constexpr wchar_t kJunctionFailedFormat[] = L"%s\n\n%s\n ->\n%s";
constexpr wchar_t kCompletedFormat[] =
    L"%s\n\n%s\n ->\n%s\n\nREMEMBER: Deleting files from EITHER folder will delete BOTH instances since they are "
    L"'linked'";

// Requests that cannot end well are refused before anything is changed.
constexpr wchar_t kSourceTooLongFormat[] =
    L"The path of the source folder is too long. Dirshift can relocate a folder whose full path has at most %d "
    L"characters. No changes were made.";
constexpr wchar_t kTargetTooLongFormat[] =
    L"The path of the destination folder is too long. Dirshift accepts a destination whose full path has at most %d "
    L"characters. No changes were made.";
constexpr wchar_t kSameFolder[] =
    L"The source and the destination are the same folder. Please choose a destination outside the source folder. "
    L"No changes were made.";
constexpr wchar_t kTargetInsideSource[] =
    L"The destination folder lies inside the source folder. Please choose a destination outside the source folder. "
    L"No changes were made.";
constexpr wchar_t kSourceInsideTarget[] =
    L"The source folder lies inside the destination folder. Please choose a destination that does not contain the "
    L"source folder. No changes were made.";
constexpr wchar_t kNoReparseSupport[] =
    L"The source folder is on a drive that does not support junctions (reparse points), for example a drive "
    L"formatted with FAT32. This folder can not be relocated. No changes were made.";
constexpr wchar_t kNameClashFormat[] =
    L"The destination folder already holds an item named \"%s\", and so does the source folder. Please move or "
    L"rename one of them first. No changes were made.";
constexpr wchar_t kStuckUnderProbeFormat[] =
    L"ERROR: To test whether it is in use, the source folder was renamed to\n%s\nbut it could not be renamed back "
    L"to\n%s\nPlease rename it back yourself. Nothing else was changed.";
constexpr wchar_t kUnexpectedStop[] =
    L"ERROR: The relocation stopped unexpectedly (out of memory). Please check the source and the destination "
    L"folder.";
constexpr wchar_t kProbeNameTakenFormat[] =
    L"ERROR: To test whether the source folder is in use, Dirshift renames it for a moment to\n%s\nbut something "
    L"with that name already exists. Please rename or remove it first. No changes were made.";
constexpr wchar_t kJunctionRestored[] = L"Files restored: they are back in the source folder.";
constexpr wchar_t kJunctionNotRestoredFormat[] =
    L"Files may not be fully restored: whatever is missing from\n%s\nis still in\n%s";

void ShowError(HWND owner, const wchar_t* text) { ::MessageBoxW(owner, text, AppCaption, MB_ICONERROR); }

void ShowErrorF(HWND owner, const wchar_t* format, ...) {
    wchar_t text[kMessageCapacity];  // wvsprintfW never writes more than 1024 characters
    va_list args;
    va_start(args, format);
    ::wvsprintfW(text, format, args);
    va_end(args);
    ShowError(owner, text);
}

std::wstring LoadAppString(UINT id) {
    wchar_t text[kMessageCapacity] = L"";
    if (::LoadStringW(AppInstance, id, text, kMessageCapacity) <= 0) text[0] = L'\0';
    return text;
}

struct RelocationRequest {
    std::wstring source;  // as typed, cleaned: used for every step, as the user named it
    std::wstring target;
    std::wstring fullSource;  // full forms, only to compare the two
    std::wstring fullTarget;
};

// A field whose text does not fit its buffer is never cut: it reads as too long.
bool ReadPathField(HWND dialog, int controlId, std::wstring& path) {
    wchar_t buffer[MAX_PATH];
    const bool fits = ReadControlText(dialog, controlId, buffer, MAX_PATH);
    path = fits ? buffer : L"";
    CleanRelocationPath(path);
    return fits;
}

bool ReadRequest(HWND dialog, RelocationRequest& request) {
    const bool sourceFits = ReadPathField(dialog, IDC_SOURCE_PATH, request.source);
    const bool targetFits = ReadPathField(dialog, IDC_TARGET_PATH, request.target);

    if (sourceFits && request.source.empty()) {
        ShowError(dialog, kNoSource);
        return false;
    }
    if (!sourceFits || !FullPathWithin(request.source, kMaxSourceLength, request.fullSource)) {
        ShowErrorF(dialog, kSourceTooLongFormat, kMaxSourceLength);
        return false;
    }
    if (targetFits && request.target.empty()) {
        ShowError(dialog, kNoTarget);
        return false;
    }
    if (!targetFits || !FullPathWithin(request.target, kMaxTargetLength, request.fullTarget)) {
        ShowErrorF(dialog, kTargetTooLongFormat, kMaxTargetLength);
        return false;
    }
    return true;
}

bool RequestCanEndWell(HWND dialog, const RelocationRequest& request) {
    switch (RelatePaths(request.fullSource, request.fullTarget)) {
    case PathRelation::Same:
        ShowError(dialog, kSameFolder);
        return false;
    case PathRelation::TargetInsideSource:
        ShowError(dialog, kTargetInsideSource);
        return false;
    case PathRelation::SourceInsideTarget:
        ShowError(dialog, kSourceInsideTarget);
        return false;
    case PathRelation::Separate:
        break;
    }
    // Moving the files first and finding out afterwards that no junction can stand
    // in their place would break every program that uses the old path.
    if (!VolumeSupportsReparsePoints(request.fullSource.c_str())) {
        ShowError(dialog, kNoReparseSupport);
        return false;
    }
    return true;
}

enum class ScanOutcome { Passed, Failed, NotStarted };

ScanOutcome RunAccessScan(const std::wstring& source) {
    ScanSourceFolder = source;
    UniqueHandle worker(::CreateThread(nullptr, 0, AccessScanThread, nullptr, 0, nullptr));
    if (!worker) return ScanOutcome::NotStarted;
    ::WaitForSingleObject(worker.get(), INFINITE);
    DWORD exitCode = 0;
    if (!::GetExitCodeThread(worker.get(), &exitCode)) exitCode = 0;
    DeliverScanProgress();
    return exitCode == 1 ? ScanOutcome::Passed : ScanOutcome::Failed;
}

// Clears `flag` on the source folder itself; false when it stays set.
bool ClearFolderAttribute(const std::wstring& folder, DWORD& attributes, DWORD flag) {
    if ((attributes & flag) == 0) return true;
    ::SetFileAttributesW(folder.c_str(), attributes & ~flag);
    attributes = ::GetFileAttributesW(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & flag) == 0;
}

bool ClearBlockingAttributes(HWND dialog, const std::wstring& source) {
    DWORD attributes = ::GetFileAttributesW(source.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;  // the probe that follows will tell
    if (!ClearFolderAttribute(source, attributes, FILE_ATTRIBUTE_READONLY) ||
        !ClearFolderAttribute(source, attributes, FILE_ATTRIBUTE_SYSTEM)) {
        ShowError(dialog, kReadOnlySource);
        return false;
    }
    return true;
}

// The shell's move. Its result alone proves nothing: it can report success with
// items left behind (between file systems under Wine, or after the user cancelled
// its progress window on Windows), so the source must really be empty afterwards.
bool MoveContent(HWND dialog, const RelocationRequest& request) {
    const std::wstring from = ShellPathList(request.source, true);
    const std::wstring to = ShellPathList(request.target, false);
    SHFILEOPSTRUCTW operation = {};
    operation.hwnd = dialog;
    operation.wFunc = FO_MOVE;
    operation.pFrom = from.c_str();
    operation.pTo = to.c_str();
    operation.fFlags = FOF_NOCONFIRMMKDIR;
    operation.lpszProgressTitle = kProgressTitle;
    const int result = ::SHFileOperationW(&operation);
    if (result != 0 || operation.fAnyOperationsAborted) {
        DebugLineF(L"Tressel.Error: moving the files failed (%d, aborted %d).", result,
                   operation.fAnyOperationsAborted ? 1 : 0);
        return false;
    }
    if (!FolderIsEmpty(request.source)) {
        DebugLineF(L"Tressel.Error: the move left items behind in %s", request.source.c_str());
        return false;
    }
    return true;
}

// Moves the entries that came from the source back into it; true when none is left
// in the destination. What the destination held before is never touched.
bool MoveBack(const RelocationRequest& request, const std::vector<std::wstring>& movedNames) {
    return MoveEntriesBack(request.target, request.source, movedNames);
}

void RollBackFailedMove(HWND dialog, const RelocationRequest& request, const std::vector<std::wstring>& movedNames) {
    ShowError(nullptr, kMoveFailed);
    if (MoveBack(request, movedNames)) {
        ::MessageBoxW(dialog, kRestored, AppCaption, MB_ICONINFORMATION);
    } else {
        ShowError(dialog, kNotRestored);
    }
}

void ReportCompleted(HWND dialog, const RelocationRequest& request) {
    const std::wstring done = LoadAppString(IDS_RELOCATION_DONE);
    wchar_t text[kMessageCapacity];
    ::wsprintfW(text, kCompletedFormat, done.c_str(), request.source.c_str(), request.target.c_str());
    PromptBox(nullptr, text, AppCaption, MB_OK);
    ::EndDialog(dialog, 0);
}

void Relocate(HWND dialog) {
    RelocationRequest request;
    if (!ReadRequest(dialog, request) || !RequestCanEndWell(dialog, request)) return;

    switch (RunAccessScan(request.source)) {
    case ScanOutcome::NotStarted:
        ShowError(dialog, kWorkerFailed);
        return;
    case ScanOutcome::Failed:
        ShowError(dialog, kScanFailed);
        return;
    case ScanOutcome::Passed:
        break;
    }
    if (SystemFilesFound &&
        ::MessageBoxW(dialog, kSystemFilesQuestion, kSystemFilesCaption, MB_YESNOCANCEL | MB_ICONQUESTION) != IDYES) {
        return;
    }

    const DWORD attributes = ::GetFileAttributesW(request.source.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ShowError(nullptr, kSourceNotFolder);
        return;
    }
    if (!ClearBlockingAttributes(dialog, request.source)) return;

    // A probe name that is taken would read as "in use" and send the user looking
    // for an open file that does not exist.
    const std::wstring probe = ProbeName(request.source);
    if (::GetFileAttributesW(probe.c_str()) != INVALID_FILE_ATTRIBUTES) {
        ShowErrorF(dialog, kProbeNameTakenFormat, probe.c_str());
        return;
    }
    switch (ProbeFolderInUse(request.source, probe)) {
    case ProbeOutcome::InUse:
        ShowError(dialog, kSourceInUse);
        return;
    case ProbeOutcome::StuckUnderProbeName:
        ShowErrorF(dialog, kStuckUnderProbeFormat, probe.c_str(), request.source.c_str());
        return;
    case ProbeOutcome::NotInUse:
        break;
    }

    // What goes to the destination, named before it goes: a roll back takes exactly
    // these entries back, and leaves alone whatever the destination already held.
    std::vector<std::wstring> movedNames;
    if (!ListFolderEntries(request.source, movedNames)) {
        ShowError(dialog, kScanFailed);
        return;
    }
    const std::wstring clash = FirstNameAlsoIn(movedNames, request.target);
    if (!clash.empty()) {
        ShowErrorF(dialog, kNameClashFormat, clash.c_str());
        return;
    }

    ::CreateDirectoryW(request.target.c_str(), nullptr);
    if (!MoveContent(dialog, request)) {
        RollBackFailedMove(dialog, request, movedNames);
        return;
    }

    // A folder that cannot be removed (something appeared in it meanwhile) cannot
    // become the junction either.
    if (!::RemoveDirectoryW(request.source.c_str()) ||
        !CreateJunction(request.source.c_str(), request.target.c_str())) {
        RestoreAfterJunctionFailure(request.source, request.target, movedNames);
        return;
    }
    ReportCompleted(dialog, request);
}

}  // namespace

bool RestoreAfterJunctionFailure(const std::wstring& source, const std::wstring& target,
                                 const std::vector<std::wstring>& movedNames) {
    DWORD attributes = ::GetFileAttributesW(source.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        ::CreateDirectoryW(source.c_str(), nullptr);
        attributes = ::GetFileAttributesW(source.c_str());
    }
    // Whatever stands at the old path now must be a plain folder to take the files.
    const bool sourceUsable = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                              (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    const bool restored = sourceUsable && MoveEntriesBack(target, source, movedNames);

    wchar_t note[kMessageCapacity];
    if (restored) {
        ::lstrcpynW(note, kJunctionRestored, kMessageCapacity);
    } else {
        ::wsprintfW(note, kJunctionNotRestoredFormat, source.c_str(), target.c_str());
    }
    const std::wstring failed = LoadAppString(IDS_RELOCATION_FAILED);
    wchar_t text[kMessageCapacity];
    ::wsprintfW(text, kJunctionFailedFormat, failed.c_str(), source.c_str(), target.c_str());
    std::wstring message = text;
    message += L"\n\n";
    message += note;
    PromptBox(nullptr, message.c_str(), AppCaption, MB_ICONERROR);
    return restored;
}

void RelocateFolder(HWND dialog) {
    try {
        Relocate(dialog);
    } catch (...) {
        // Out of memory part way: the user must look at both folders.
        DebugLine(L"Tressel.Error: the relocation stopped unexpectedly.");
        ShowError(dialog, kUnexpectedStop);
    }
}
