// The risk warning that the user accepts before either face opens.
#pragma once

// The warning's text. Its remembered answer is filed under a key computed from
// these very characters, so any change to them asks every user anew.
constexpr wchar_t kStartupWarningText[] =
    L"WARNING: Junctions have risks, mostly due to accidental user error due to poor shell integration. Since the "
    L"link looks no different than a normal folder in the Windows shell (explorer), it is easy to delete the backing "
    L"data thinking you were deleting a redundant copy. Windows 7 does show a link icon overlay, which helps some. "
    L"To remove a link, use this utility. Do you accept this risk of user error?";

// The name under which the program files its remembered answers, whatever the
// executable happens to be called.
constexpr wchar_t kPromptModuleName[] = L"dirshift.exe";

// Fills the message box's process-wide defaults, then asks. Returns when the user
// accepted; otherwise ends the process with exit code 1.
void RunStartupWarning();
