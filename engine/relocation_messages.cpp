#include "engine/relocation_messages.h"

#include <cwchar>
#include <iterator>

namespace {

using M = RelocationMessage;
constexpr MessageBoxKind kSystem = MessageBoxKind::System;
constexpr MessageBoxKind kPrompt = MessageBoxKind::Prompt;
constexpr MessageBoxKind kStatus = MessageBoxKind::Status;
constexpr bool kDialog = true;

// The question about SYSTEM files names the program in its caption as a constant.
constexpr wchar_t kSystemFilesCaption[] = L"Dirshift";

#define RECOVERY_QUESTION                                                                                   \
    L"Finish the relocation (move what is left and make the junction), move everything back to the source " \
    L"folder, or decide later?"

#define SOURCE_UNCHANGED L"\n\nYour files in\n{source}\nare unchanged."

#define MOVE_BACK_RECOVERY_HEAD \
    L"A move back did not end: Dirshift was stopped while it moved the files of\n{target}\nback to\n{source}\n\n"
#define MOVE_BACK_RECOVERY_QUESTION                                                                          \
    L"Finish moving the files back (the old path becomes a plain folder holding every file, and the emptied " \
    L"folder is removed), undo it (every file back in the folder the junction points to, and the junction as " \
    L"it was), or decide later?"

const RelocationMessageStyle kMessages[] = {
    {M::NoSource, L"Please supply a source directory name.", MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::NoTarget, L"Please supply a destination directory name.", MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::SourceTooLong,
     L"The path of the source folder is too long. Dirshift can relocate a folder whose full path has at most {limit} "
     L"characters. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::TargetTooLong,
     L"The path of the destination folder is too long. Dirshift accepts a destination whose full path has at most "
     L"{limit} characters. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::SameFolder,
     L"The source and the destination are the same folder. Please choose a destination outside the source folder. "
     L"No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::TargetInsideSource,
     L"The destination folder lies inside the source folder. Please choose a destination outside the source folder. "
     L"No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::SourceInsideTarget,
     L"The source folder lies inside the destination folder. Please choose a destination that does not contain the "
     L"source folder. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::NoReparseSupport,
     L"The source folder is on a drive that does not support junctions (reparse points), for example a drive "
     L"formatted with FAT32. This folder can not be relocated. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::SourceIsDriveRoot,
     L"The source {source} is the root folder of a drive. A whole drive can not be relocated; please choose a "
     L"folder on it. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::SourceIsLink,
     L"The source folder\n{source}\nis itself a junction or a symbolic link: its files live in another folder. "
     L"Dirshift relocates only plain folders. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::TargetIsFile,
     L"The destination\n{target}\nis a file, not a folder. Please choose a folder that does not exist yet or an "
     L"existing folder. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::TargetIsLink,
     L"The destination\n{target}\nis a junction or a symbolic link to another folder. Please choose a plain folder. "
     L"No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::TargetIsDevice,
     L"The destination\n{target}\nnames a device (such as CON, NUL, AUX or COM1), not a folder. Please choose "
     L"another name. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::TargetNotLocal,
     L"The destination\n{target}\nis on a network drive. A junction can only point to a folder on a local drive. "
     L"No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::TargetUnreadable,
     L"Dirshift can not tell what the destination\n{target}\nis (error {error}). No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::WorkerFailed, L"Critical error - No changes made", MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::ScanFailed,
     L"One or more files are in use or insufficient rights exist. This folder can not be relocated.", MB_ICONERROR,
     kDialog, kSystem, nullptr},
    {M::ForeignReparsePoint,
     L"The source folder holds\n{name}\na reparse point that is neither a junction nor a symbolic link (for example "
     L"a cloud file placeholder or a deduplicated file), or one whose data can not be read. Dirshift can not move it "
     L"safely. This folder can not be relocated. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::PathTooLongInside,
     L"The source folder holds\n{name}\nwhose full path is longer than {limit} characters. The Windows shell can "
     L"not move such a path. Please shorten it first. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::PathTooLongInTarget,
     L"In the destination the path of\n{name}\nwould be longer than {limit} characters, which the Windows shell "
     L"can not move. Please choose a shorter destination. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::LinksNeedReparseTarget,
     L"The source folder holds junctions or symbolic links, for example\n{name}\nbut the drive of the destination\n"
     L"{target}\ncan not hold them (it does not support reparse points, for example a drive formatted with FAT32 or "
     L"exFAT). No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::NotEnoughRoom,
     L"The files to move take {needed} bytes, but the drive of the destination\n{target}\nhas only {available} "
     L"bytes free. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::SystemFilesQuestion,
     L"One or more files have the SYSTEM attribute and may be system protected. You may need elevated rights or "
     L"permissions to continue with them, but we'll try anyway. Click Yes if you want to try anyway.",
     MB_YESNOCANCEL | MB_ICONQUESTION, kDialog, kSystem, kSystemFilesCaption},
    {M::SourceNotFolder,
     L"Either the source folder does not exist, is actually a file or link, or you do not have sufficient access to "
     L"it. The opration can not continue.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::ReadOnlySource, L"ERROR: The source directory is read-only and changing the attribute failed.", MB_ICONERROR,
     kDialog, kSystem, nullptr},
    {M::ProbeNameTaken,
     L"ERROR: To test whether the source folder is in use, Dirshift renames it for a moment to\n{probe}\nbut "
     L"something with that name already exists. Please rename or remove it first. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::SourceInUse,
     L"ERROR: It appears that there is either a file in use in this folder, or a permission issue exist. This folder "
     L"can not be moved.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::StuckUnderProbeName,
     L"ERROR: To test whether it is in use, the source folder was renamed to\n{probe}\nbut it could not be renamed "
     L"back to\n{source}\nPlease rename it back yourself. Nothing else was changed.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::NameClash,
     L"The destination folder already holds an item named \"{name}\", and so does the source folder. Please move or "
     L"rename one of them first. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::NameUnreadable,
     L"Dirshift can not tell whether the destination folder already holds an item named \"{name}\" (error "
     L"{error}). No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::LinkNotTakenOut,
     L"The link\n{name}\ninside the source folder could not be taken out for the move. The links taken out before "
     L"it were put back. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::LinksNotPutBack,
     L"The link\n{name}\ninside the source folder could not be taken out for the move, and the links taken out "
     L"before it could not all be made again in the source folder. No files were moved; the folders those links "
     L"pointed to are unchanged.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::MoveFailed,
     L"Moving of files failed. Automatic Dirshift could not be acccomplished Perhaps one or more files are in use or "
     L"you are messing with system protected folders? Attempting to move files back.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::LinkNotRecreated,
     L"The link\n{name}\ncould not be re-created in the destination. Attempting to move files back.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::Restored, L"Files restored.", MB_ICONINFORMATION, kDialog, kSystem, nullptr},
    {M::NotRestored,
     L"Files may not be fully restored. You may need to manually copy the files from the new destination back to the "
     L"source directory.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::JunctionFailedRestored,
     L"{string:108}\n\n{source}\n ->\n{target}\n\nFiles restored: they are back in the source folder.", MB_ICONERROR,
     kDialog, kPrompt, nullptr},
    {M::JunctionFailedNotRestored,
     L"{string:108}\n\n{source}\n ->\n{target}\n\nFiles may not be fully restored: whatever is missing from\n{source}"
     L"\nis still in\n{target}",
     MB_ICONERROR, kDialog, kPrompt, nullptr},
    {M::Completed,
     L"{string:107}\n\n{source}\n ->\n{target}\n\nREMEMBER: Deleting files from EITHER folder will delete BOTH "
     L"instances since they are 'linked'",
     MB_OK, kDialog, kPrompt, nullptr},
    {M::UnexpectedStop,
     L"ERROR: The relocation stopped unexpectedly (out of memory). Please check the source and the destination "
     L"folder.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::MoveBackQuestion,
     L"Move the files back and remove the junction?\n\nThe files of\n{target}\n({needed} bytes) move back to\n{source}"
     L"\nwhich becomes a plain folder again. The folder\n{target}\nis removed once it is empty.",
     MB_YESNO | MB_ICONQUESTION, kDialog, kSystem, nullptr},
    {M::MoveBackNotJunction,
     L"{source}\nis not a junction. Only the files of a junction's folder can be moved back. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::MoveBackTargetNotLocal,
     L"The junction\n{source}\npoints to\n{target}\nwhich is not a folder on a drive of this computer. Dirshift can "
     L"only move files back from such a folder. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::MoveBackScanFailed,
     L"One or more files in\n{target}\nare in use or insufficient rights exist. The files can not be moved back. No "
     L"changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::MoveBackNoRoom,
     L"The files to move back take {needed} bytes, but the drive of\n{source}\nhas only {available} bytes free. No "
     L"changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::MoveBackHoldsLink,
     L"{target}\nholds\n{name}\na reparse point that Dirshift can not carry back: it is neither a junction nor a "
     L"symbolic link (for example a cloud file placeholder or a deduplicated file), or its data can not be read or "
     L"pointed to the old place. The files can not be moved back. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::MoveBackJunctionNotReplaced,
     L"The junction\n{source}\ncould not be replaced by a plain folder. The junction is as it was and the files are "
     L"still in\n{target}\nNo changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::MoveBackFailedRestored,
     L"Moving the files back failed. Perhaps a file is in use? The files are all in\n{target}\nagain, and the junction"
     L"\n{source}\nis back as it was.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::MoveBackNotRestored,
     L"Moving the files back failed, and not everything could be put back as it was. Files may be in\n{source}\nand "
     L"in\n{target}\nPlease check both folders: no file was deleted.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::MoveBackCompleted,
     L"The files are back in\n{source}\nwhich is a plain folder again. The junction and the emptied folder\n{target}"
     L"\nare removed.",
     MB_OK | MB_ICONINFORMATION, kDialog, kSystem, nullptr},
    {M::MoveBackTargetLeft,
     L"The files are back in\n{source}\nwhich is a plain folder again, and the junction is removed. The folder\n"
     L"{target}\nis empty but could not be removed; you may remove it yourself.",
     MB_OK | MB_ICONINFORMATION, kDialog, kSystem, nullptr},
    {M::JournalNotWritten,
     L"ERROR: Dirshift could not write its journal\n{name}\nwhich lets it finish or undo a relocation that is cut "
     L"short (by a crash or a restart). No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::JournalPending,
     L"An earlier relocation did not end, and its journal\n{name}\nis still kept. Please start Dirshift again and "
     L"finish that relocation or move it back first. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::JournalInsideFolders,
     L"Dirshift keeps its journal, which lets it finish or undo a relocation that is cut short, in\n{name}\nand that "
     L"folder lies inside the source or the destination, where it would move with the files. This relocation can not "
     L"be done with Dirshift. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::RecoveryNothingMoved,
     L"A relocation did not end: Dirshift was stopped while it moved\n{source}\n ->\n{target}\n\nNothing has moved "
     L"yet: every item is still in the source folder.\n\n" RECOVERY_QUESTION,
     MB_ICONWARNING, kDialog, kPrompt, nullptr},
    {M::RecoveryPartlyMoved,
     L"A relocation did not end: Dirshift was stopped while it moved\n{source}\n ->\n{target}\n\nSome items are "
     L"in the destination folder, the others are still in the source folder.\n\n" RECOVERY_QUESTION,
     MB_ICONWARNING, kDialog, kPrompt, nullptr},
    {M::RecoveryAllMoved,
     L"A relocation did not end: Dirshift was stopped while it moved\n{source}\n ->\n{target}\n\nEvery item is in "
     L"the destination folder, but no junction stands at the old path yet.\n\n" RECOVERY_QUESTION,
     MB_ICONWARNING, kDialog, kPrompt, nullptr},
    {M::RecoverySourceRemoved,
     L"A relocation did not end: Dirshift was stopped while it moved\n{source}\n ->\n{target}\n\nEvery item is in "
     L"the destination folder; the source folder is gone and no junction stands in its place yet, so programs that "
     L"use the old path do not find their files.\n\n" RECOVERY_QUESTION,
     MB_ICONWARNING, kDialog, kPrompt, nullptr},
    {M::RecoveryRollingBack,
     L"A relocation did not end: Dirshift was stopped while it moved the items of\n{source}\nback from\n{target}\n\n"
     L"Some items are in the destination folder, the others are back in the source folder.\n\n" RECOVERY_QUESTION,
     MB_ICONWARNING, kDialog, kPrompt, nullptr},
    {M::RecoveryJunctionMade,
     L"A relocation did not end: Dirshift was stopped just after it moved\n{source}\n ->\n{target}\n\nEvery item "
     L"is in the destination folder and the junction stands at the old path.\n\n" RECOVERY_QUESTION,
     MB_ICONWARNING, kDialog, kPrompt, nullptr},
    {M::RecoveryJournalDamaged,
     L"Dirshift found the journal of a relocation that did not end, but it is damaged or cannot be read:\n{name}\n\n"
     L"It cannot tell from it which folders were moved, so it changes none. Discard the journal? (No keeps it.)",
     MB_YESNO | MB_ICONWARNING, kDialog, kPrompt, nullptr},
    {M::RecoveryFoldersGone,
     L"Dirshift found the journal of a relocation that did not end:\n{source}\n ->\n{target}\n\nbut the items it "
     L"moved are in neither folder any more (the folders may be gone), so there is nothing to finish or move back. "
     L"Nothing was changed. Discard the journal? (No keeps it.)",
     MB_YESNO | MB_ICONWARNING, kDialog, kPrompt, nullptr},
    {M::RecoveryFoldersChanged,
     L"Dirshift found the journal of a relocation that did not end:\n{source}\n ->\n{target}\n\nbut what stands "
     L"at these paths now is not what the relocation left (a file, or a link to another place), so Dirshift cannot "
     L"tell where the files belong and changes nothing. Please check both folders. Discard the journal? (No keeps "
     L"it.)",
     MB_YESNO | MB_ICONWARNING, kDialog, kPrompt, nullptr},
    {M::RecoveryMoveBackNotStarted,
     MOVE_BACK_RECOVERY_HEAD L"Nothing has moved yet: the junction stands as it was and every item is still in "
     L"the folder it points to.\n\n" MOVE_BACK_RECOVERY_QUESTION,
     MB_ICONWARNING, kDialog, kPrompt, nullptr},
    {M::RecoveryMoveBackJunctionGone,
     MOVE_BACK_RECOVERY_HEAD L"The junction is gone, but every item is still in the folder it pointed to, so "
     L"programs that use the old path do not find their files.\n\n" MOVE_BACK_RECOVERY_QUESTION,
     MB_ICONWARNING, kDialog, kPrompt, nullptr},
    {M::RecoveryMoveBackPartly,
     MOVE_BACK_RECOVERY_HEAD L"The junction is gone. Some items are back at the old path, the others are still in "
     L"the folder it pointed to.\n\n" MOVE_BACK_RECOVERY_QUESTION,
     MB_ICONWARNING, kDialog, kPrompt, nullptr},
    {M::RecoveryMoveBackAllBack,
     MOVE_BACK_RECOVERY_HEAD L"Every item is back at the old path, which is a plain folder again; the junction is "
     L"gone.\n\n" MOVE_BACK_RECOVERY_QUESTION,
     MB_ICONWARNING, kDialog, kPrompt, nullptr},
    {M::MoveBackUndone,
     L"The move back is undone: the files are all in\n{target}\nagain, and the junction\n{source}\nis back as it "
     L"was.",
     MB_OK | MB_ICONINFORMATION, kDialog, kSystem, nullptr},
    {M::MoveBackUndoFailed,
     L"The files could not all be put back in\n{target}\nbehind the junction. Dirshift now moves them to\n{source}"
     L"\ninstead.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::MoveBackJunctionNotMade,
     L"The junction\n{source}\ncould not be made again, so the files stay at the old path: they are all in\n"
     L"{source}\nwhich is a plain folder.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::MoveBackLinkNotTakenOut,
     L"The link\n{name}\ninside\n{target}\ncould not be taken out to be carried back. The links taken out before "
     L"it were put back. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::MoveBackLinksNotPutBack,
     L"The link\n{name}\ninside\n{target}\ncould not be taken out to be carried back, and the links taken out "
     L"before it could not all be made again. No files were moved; the folders those links pointed to are "
     L"unchanged.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::JournalUnreadable,
     L"ERROR: Dirshift could not read its journal\n{name}\n(error {error}), so it cannot tell whether an earlier "
     L"relocation is still to be finished. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::JournalUntrusted,
     L"Dirshift keeps its journal, which lets it finish or undo a relocation that is cut short, in\n{name}\nbut "
     L"that folder, or the journal in it, can be changed by users or programs without administrator rights, so "
     L"Dirshift cannot rely on it. Only administrators and the system may be allowed to change that folder. No "
     L"changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::OperationRunning,
     L"Another Dirshift is moving files right now. Please wait until it has ended, then try again. No changes were "
     L"made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::TargetLetsOthersWrite,
     L"The destination folder\n{target}\ncan be changed by users or programs that can not change\n{source}\n\n"
     L"Moved there, its files could be replaced or deleted by them. Please choose a destination folder that does not "
     L"exist yet (Dirshift then gives it the permissions of the source folder), or one that only the same users can "
     L"change. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::FolderReplaced,
     L"The folder\n{name}\nwas replaced by another folder or a link after Dirshift had checked it, so Dirshift "
     L"stopped before moving anything there. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::RecoveryJournalUntrusted,
     L"Dirshift found the journal of a relocation that did not end in\n{name}\nbut that journal, or a folder on "
     L"its way, can be changed by users or programs without administrator rights. Dirshift does not act on it and "
     L"changes nothing.",
     MB_ICONWARNING, kDialog, kPrompt, nullptr},
    {M::RecoveryBusy,
     L"Another Dirshift is moving files right now, with the journal\n{name}\nThis one leaves that work alone and "
     L"changes nothing.",
     MB_ICONINFORMATION, kDialog, kPrompt, nullptr},
    {M::EarlierJournalFound,
     L"Dirshift found a journal that an earlier version kept in\n{name}\na folder that every program of this user "
     L"can change, so Dirshift does not act on it. If a relocation did not end, the journal (a text file) names its "
     L"two folders: please look at them yourself.\n\nDiscard the journal? (No keeps it.)",
     MB_YESNO | MB_ICONWARNING, kDialog, kPrompt, nullptr},
    {M::MoveBackTargetIsRoot,
     L"The junction\n{source}\npoints at the root of a drive,\n{target}\nwhich also holds the drive's own folders "
     L"(such as System Volume Information and $RECYCLE.BIN) and can not be removed. Dirshift moves back the files of "
     L"a folder, not of a whole drive. Please move the files back yourself, then remove the junction with the "
     L"junction manager. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::MoveBackNotSeparate,
     L"The junction\n{source}\nlies inside the folder it points to,\n{target}\n(or that folder lies inside it), "
     L"so its files can not be moved back into its place: they would be moved into themselves. No changes were "
     L"made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::MoveBackQuestionSharedTarget,
     L"Move the files back and remove the junction?\n\nThe files of\n{target}\n({needed} bytes) move back to\n"
     L"{source}\nwhich becomes a plain folder again. The folder\n{target}\nis removed once it is empty.\n\n"
     L"Another junction,\n{name}\nalso points to that folder: once the files are back, it points to a folder that "
     L"is gone.",
     MB_YESNO | MB_ICONWARNING, kDialog, kSystem, nullptr},
    {M::MoveBackQuestionHeldBefore,
     L"Move the files back and remove the junction?\n\nThe files of\n{target}\n({needed} bytes) move back to\n"
     L"{source}\nwhich becomes a plain folder again. The folder\n{target}\nis removed once it is empty.\n\n"
     L"That folder also holds {limit} item(s) that were not moved there from\n{source}\nsuch as\n{name}\nThey "
     L"move to\n{source}\ntoo.",
     MB_YESNO | MB_ICONWARNING, kDialog, kSystem, nullptr},
    {M::CopyTargetFailed,
     L"Copying the files to\n{target}\nfailed at\n{name}\n(error {error}). Perhaps its drive is full, was "
     L"disconnected or refuses to be written." SOURCE_UNCHANGED,
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::CopySourceUnreadable,
     L"The file or folder\n{name}\ncould not be read for copying (error {error})." SOURCE_UNCHANGED,
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::CopySourceChanged,
     L"The file\n{name}\nchanged while it was copied: a program may be writing to it. Please close the programs "
     L"that use the folder and try again." SOURCE_UNCHANGED,
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::CopyDiffers,
     L"The copy\n{name}\ndoes not match its original after it was written: the drive of the destination may be "
     L"failing." SOURCE_UNCHANGED,
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::CopyCancelled, L"Copy cancelled: nothing was changed.", 0, kDialog, kStatus, nullptr},
    {M::CopyLeft,
     L"What was copied to\n{target}\ncould not all be removed again:\n{name}\nis left there, and you may delete "
     L"it. Your files in\n{source}\nare unchanged.",
     MB_ICONWARNING, kDialog, kSystem, nullptr},
    {M::SourceNotRenamed,
     L"Every file was copied to\n{target}\nbut\n{source}\ncould not be renamed to make room for the junction "
     L"(error {error}). Perhaps a file in it is in use?" SOURCE_UNCHANGED,
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::SwapStuckAside,
     L"Every file was copied to\n{target}\nbut no junction could be made at\n{source}\nand the original folder "
     L"could not be renamed back from\n{name}\nEvery file is still in it: please rename it back to\n{source}\n"
     L"yourself. Nothing was deleted.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::CompletedSourceLeft,
     L"{string:107}\n\n{source}\n ->\n{target}\n\nThe original folder, renamed to\n{name}\ncould not be deleted "
     L"completely: what is left of it was not copied or is in use. Every copied file is in the new place; please "
     L"look at what is left before you delete it.",
     MB_ICONWARNING, kDialog, kPrompt, nullptr},
    {M::CopyLinkNotMade,
     L"The link\n{name}\ncould not be made in the destination." SOURCE_UNCHANGED,
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::AsideNameTaken,
     L"Once the files are copied, Dirshift renames the source folder to\n{name}\nto make room for the junction, "
     L"then deletes it; but that name, and the numbered ones after it, are all taken. Please rename or remove them "
     L"first. No changes were made.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::RecoveryCopyCutShort,
     L"A relocation did not end: Dirshift was stopped while it copied\n{source}\n ->\n{target}\n\nEvery file is "
     L"still in the source folder; the destination holds a copy that may not be whole.\n\nFinish the relocation "
     L"(copy again, check the copy and make the junction), move back (remove the copy; the source folder stays as "
     L"it is), or decide later?",
     MB_ICONWARNING, kDialog, kPrompt, nullptr},
    {M::RecoveryCopySwapCutShort,
     L"A relocation did not end: Dirshift was stopped just after it copied\n{source}\n ->\n{target}\n\nEvery "
     L"file was copied and checked, and the source folder was renamed to\n{name}\nbut no junction stands at the old "
     L"path yet, so programs that use it do not find their files.\n\nFinish the relocation (make the junction, then "
     L"delete the renamed folder), move back (rename the folder back and remove the copy), or decide later?",
     MB_ICONWARNING, kDialog, kPrompt, nullptr},
    {M::RecoveryDeletingSource,
     L"A relocation did not end: Dirshift was stopped while it deleted the original of\n{source}\n ->\n{target}"
     L"\n\nEvery file is in the destination folder and the junction stands at the old path; the original folder, "
     L"renamed to\n{name}\nis not deleted yet.\n\nFinish (delete what is left of it whose copy is in the "
     L"destination), or decide later?",
     MB_ICONWARNING, kDialog, kPrompt, nullptr},
    {M::RecoveryCopyDone,
     L"A relocation did not end: Dirshift was stopped just before it finished\n{source}\n ->\n{target}\n\nEvery "
     L"file is in the destination folder, the junction stands at the old path and the original folder is deleted: "
     L"only the journal is left.\n\nFinish (discard the journal), or decide later?",
     MB_ICONWARNING, kDialog, kPrompt, nullptr},
    {M::MoveBackOriginalLeft,
     L"The files are back in\n{source}\nwhich is a plain folder again, and the junction is removed. But\n{name}\n"
     L"in the folder they came from could not be deleted: it was not copied back, or it is in use. Please look at "
     L"it before you delete it.",
     MB_ICONWARNING, kDialog, kSystem, nullptr},
    {M::MoveBackSwapStuck,
     L"Every file was copied back to\n{name}\nand checked, but that copy could not take the place of the junction\n"
     L"{source}\nand the junction could not be made again. Every file is still in\n{target}\nand its copy in\n{name}"
     L"\nNothing was deleted; Dirshift offers to finish or undo this when it starts next.",
     MB_ICONERROR, kDialog, kSystem, nullptr},
    {M::RecoveryMoveBackCopyCutShort,
     MOVE_BACK_RECOVERY_HEAD L"The junction still stands and every file is in the folder it points to; their copy "
     L"beside the junction,\n{name}\nmay not be whole.\n\nFinish moving the files back (copy again, check the copy, "
     L"put it in the junction's place, then delete the folder), undo it (remove the copy; the junction stays as it "
     L"is), or decide later?",
     MB_ICONWARNING, kDialog, kPrompt, nullptr},
    {M::RecoveryMoveBackCopySwapCutShort,
     MOVE_BACK_RECOVERY_HEAD L"Every file was copied back to\n{name}\nand checked, and the junction is removed, "
     L"but the copy does not stand at the old path yet.\n\nFinish moving the files back (the copy takes the old "
     L"path, then the folder is deleted), undo it (the junction as it was, the copy removed), or decide later?",
     MB_ICONWARNING, kDialog, kPrompt, nullptr},
    {M::RecoveryMoveBackDeleting,
     MOVE_BACK_RECOVERY_HEAD L"Every file is back at the old path, a plain folder again; the folder they came from "
     L"is not deleted yet.\n\nFinish (delete what is left of it whose copy is at the old path), or decide later?",
     MB_ICONWARNING, kDialog, kPrompt, nullptr},
};

// "1,234,567": a byte count the user can read at a glance.
std::wstring GroupedNumber(std::uint64_t number) {
    std::wstring digits = std::to_wstring(number);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, L',');
    return digits;
}

// The value of the placeholder `name`, or false when there is no such placeholder.
bool PlaceholderValue(const std::wstring& name, const RelocationFacts& facts,
                      const std::function<std::wstring(UINT)>& loadString, std::wstring& value) {
    constexpr wchar_t kStringPrefix[] = L"string:";
    constexpr size_t kStringPrefixLength = std::size(kStringPrefix) - 1;
    if (name == L"source") {
        value = facts.source;
    } else if (name == L"target") {
        value = facts.target;
    } else if (name == L"probe") {
        value = facts.probe;
    } else if (name == L"name") {
        value = facts.name;
    } else if (name == L"limit") {
        value = std::to_wstring(facts.limit);
    } else if (name == L"needed") {
        value = GroupedNumber(facts.needed);
    } else if (name == L"available") {
        value = GroupedNumber(facts.available);
    } else if (name == L"error") {
        value = std::to_wstring(facts.error);
    } else if (name.size() > kStringPrefixLength && name.compare(0, kStringPrefixLength, kStringPrefix) == 0) {
        value = loadString(static_cast<UINT>(std::wcstoul(name.c_str() + kStringPrefixLength, nullptr, 10)));
    } else {
        return false;
    }
    return true;
}

#undef RECOVERY_QUESTION
#undef SOURCE_UNCHANGED
#undef MOVE_BACK_RECOVERY_HEAD
#undef MOVE_BACK_RECOVERY_QUESTION

// One row per message, in the order of the enumeration: a row is found by its index.
static_assert(std::size(kMessages) == static_cast<size_t>(kLastRelocationMessage) + 1,
              "every relocation message needs its row");

}  // namespace

const RelocationMessageStyle& StyleOf(RelocationMessage message) {
    const auto index = static_cast<size_t>(message);
    return kMessages[index < std::size(kMessages) ? index : std::size(kMessages) - 1];
}

std::wstring ComposeRelocationText(RelocationMessage message, const RelocationFacts& facts,
                                   const std::function<std::wstring(UINT)>& loadString) {
    const std::wstring pattern = StyleOf(message).text;
    std::wstring text;
    size_t at = 0;
    while (at < pattern.size()) {
        const size_t open = pattern.find(L'{', at);
        const size_t close = open == std::wstring::npos ? open : pattern.find(L'}', open);
        std::wstring value;
        if (close == std::wstring::npos ||
            !PlaceholderValue(pattern.substr(open + 1, close - open - 1), facts, loadString, value)) {
            const size_t end = open == std::wstring::npos ? pattern.size() : open + 1;
            text.append(pattern, at, end - at);
            at = end;
            continue;
        }
        text.append(pattern, at, open - at);
        text += value;
        at = close + 1;
    }
    return text;
}

const wchar_t kRecoveryChoiceLabels[] = L"&Finish\nMove &back\nDecide &later";
const wchar_t kMoveBackRecoveryChoiceLabels[] = L"&Finish\n&Undo\nDecide &later";
const wchar_t kFinishOnlyChoiceLabels[] = L"&Finish\nDecide &later";
