; Dirshift's installer and uninstaller, a 64-bit NSIS program.
;
; The build passes the facts of the build it packages:
;   makensis -DVERSION=1.2.3 -DVERSION_QUAD=1.2.3.0 -DPROGRAM_EXE=<dirshift.exe>
;            -DPROGRAM_ICON=<dirshift.ico> -DSETUP_EXE=<dirshift-setup-1.2.3.exe> dirshift.nsi
;
; What it puts on the machine, all of it for every user of the machine:
;   $PROGRAMFILES64\Dirshift\dirshift.exe and uninstall.exe;
;   two verbs on folders and one on drives in HKLM\Software\Classes;
;   the Add/Remove Programs entry HKLM\...\Uninstall\Dirshift.
; The uninstaller takes away exactly these. Junctions and moved folders belong to
; the user and stay; so do the program's remembered settings in HKCU\Software\Dirshift
; unless the user asks to remove them.
;
; The script is plain ASCII: the one non-ASCII character of the labels, the
; ellipsis, is written as ${U+2026} so no editor or code page can mangle it.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!ifndef VERSION | VERSION_QUAD | PROGRAM_EXE | PROGRAM_ICON | SETUP_EXE
  !error "pass -DVERSION, -DVERSION_QUAD, -DPROGRAM_EXE, -DPROGRAM_ICON and -DSETUP_EXE"
!endif

!define PRODUCT "Dirshift"
!define PUBLISHER "Dirshift"
!define EXE_NAME "dirshift.exe"
!define UNINSTALLER_NAME "uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Dirshift"
!define SETTINGS_KEY "Software\Dirshift"
!define CLASSES "Software\Classes"
!define RELOCATE_VERB "${CLASSES}\Directory\shell\Dirshift.Relocate"
!define FIND_VERB "${CLASSES}\Directory\shell\Dirshift.FindJunctions"
!define DRIVE_FIND_VERB "${CLASSES}\Drive\shell\Dirshift.FindJunctions"
!define RESTORE_VERB "${CLASSES}\Directory\shell\Dirshift.MoveBack"
!define RELOCATE_LABEL "Move to another drive and leave a junction${U+2026}"
!define FIND_LABEL "Find and remove junctions here${U+2026}"
!define RESTORE_LABEL "Move back and remove junction${U+2026}"

Name "${PRODUCT}"
Caption "${PRODUCT} ${VERSION} Setup"
UninstallCaption "${PRODUCT} ${VERSION} Uninstall"
BrandingText "${PRODUCT} ${VERSION}"
OutFile "${SETUP_EXE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
; An upgrade goes where the last installation went.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
ManifestDPIAware true
; A file that cannot be written (the program is running) fails the installation
; instead of leaving the old copy behind under a success report.
AllowSkipFiles off
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION_QUAD}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

!include MUI2.nsh
!include LogicLib.nsh
!include WinVer.nsh
!include FileFunc.nsh

!define MUI_ICON "${PROGRAM_ICON}"
!define MUI_UNICON "${PROGRAM_ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_TITLE "${PRODUCT} is installed"
!define MUI_FINISHPAGE_TEXT "Right-click a folder in Explorer and choose $\"${RELOCATE_LABEL}$\" to move it to another drive, or $\"${FIND_LABEL}$\" on a folder or a drive to find and remove junctions."

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; ---------------------------------------------------------------------------
; Shared checks

!macro RequireWindows7AndAdmin un
  Function ${un}RequireWindows7AndAdmin
    ${IfNot} ${AtLeastWin7}
      MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} needs Windows 7 or later." /SD IDOK
      SetErrorLevel 1150 ; ERROR_OLD_WIN_VERSION
      Quit
    ${EndIf}
    ; HKLM and Program Files are written for every user of the machine.
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "admin"
      MessageBox MB_OK|MB_ICONSTOP "Changing the installation of ${PRODUCT} needs administrator rights." /SD IDOK
      SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
      Quit
    ${EndIf}
  FunctionEnd
!macroend
!insertmacro RequireWindows7AndAdmin ""
!insertmacro RequireWindows7AndAdmin "un."

; Waits until the program file at $0 can be replaced or removed, asking the user to
; close the program while it runs. Sets the error flag when the user gives up (in
; silent mode at once), so the caller stops before it has changed anything.
!macro WaitUntilProgramIsClosed un
  Function ${un}WaitUntilProgramIsClosed
    ${IfNot} ${FileExists} "$0"
      ClearErrors
      Return
    ${EndIf}
    ${Do}
      ClearErrors
      FileOpen $1 "$0" a
      ${IfNot} ${Errors}
        FileClose $1
        Return
      ${EndIf}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${PRODUCT} is running from $0.$\r$\n$\r$\nClose it, then choose Retry." /SD IDCANCEL IDRETRY retry
      ${Break}
      retry:
    ${Loop}
    SetErrors
  FunctionEnd
!macroend
!insertmacro WaitUntilProgramIsClosed ""
!insertmacro WaitUntilProgramIsClosed "un."

; ---------------------------------------------------------------------------
; Installer

Function .onInit
  SetRegView 64
  SetShellVarContext all
  Call RequireWindows7AndAdmin
FunctionEnd

; An earlier installation in another folder is removed first (its own uninstaller,
; silently, so the user's settings stay), so the machine keeps one copy and one
; Add/Remove Programs entry.
Function RemoveInstallationElsewhere
  ReadRegStr $2 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $2 == ""
  ${OrIf} $2 == $INSTDIR
    Return
  ${EndIf}
  ${IfNot} ${FileExists} "$2\${UNINSTALLER_NAME}"
    Return
  ${EndIf}
  DetailPrint "Removing the earlier installation in $2"
  ClearErrors
  ExecWait '"$2\${UNINSTALLER_NAME}" /S _?=$2' $3
  ${If} ${Errors}
  ${OrIf} $3 != 0
    MessageBox MB_OK|MB_ICONSTOP "The earlier installation of ${PRODUCT} in $2 could not be removed. Nothing was changed." /SD IDOK
    Abort
  ${EndIf}
  ; Run in place, the uninstaller cannot delete itself.
  Delete "$2\${UNINSTALLER_NAME}"
  RMDir "$2"
FunctionEnd

Section "${PRODUCT}" SectionProgram
  SectionIn RO
  SetRegView 64
  SetShellVarContext all

  StrCpy $0 "$INSTDIR\${EXE_NAME}"
  Call WaitUntilProgramIsClosed
  ${If} ${Errors}
    DetailPrint "${PRODUCT} is running; nothing was changed."
    Abort
  ${EndIf}
  Call RemoveInstallationElsewhere

  SetOutPath "$INSTDIR"
  File "/oname=${EXE_NAME}" "${PROGRAM_EXE}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER_NAME}"

  ; Explorer puts the folder's path where %1 stands. A folder's path never ends in
  ; a backslash, so quoting it is safe. A drive's path always does ("D:\"), and a
  ; backslash before the closing quote makes that quote a literal character: the
  ; program receives D:" and removes the stray quote, which leaves D:. The drive
  ; entry has no "/create": a drive root cannot be moved away.
  ; Each entry shows for one selected item only: Explorer would otherwise start one
  ; elevated copy per selected folder, each with its own prompt and dialog.
  WriteRegStr HKLM "${RELOCATE_VERB}" "" "${RELOCATE_LABEL}"
  WriteRegStr HKLM "${RELOCATE_VERB}" "Icon" "$INSTDIR\${EXE_NAME},0"
  WriteRegStr HKLM "${RELOCATE_VERB}" "MultiSelectModel" "Single"
  WriteRegStr HKLM "${RELOCATE_VERB}\command" "" '"$INSTDIR\${EXE_NAME}" "%1" /create'
  ; On any folder: the program tells a folder that is no junction that it is none.
  WriteRegStr HKLM "${RESTORE_VERB}" "" "${RESTORE_LABEL}"
  WriteRegStr HKLM "${RESTORE_VERB}" "Icon" "$INSTDIR\${EXE_NAME},0"
  WriteRegStr HKLM "${RESTORE_VERB}" "MultiSelectModel" "Single"
  WriteRegStr HKLM "${RESTORE_VERB}\command" "" '"$INSTDIR\${EXE_NAME}" "%1" /restore'
  WriteRegStr HKLM "${FIND_VERB}" "" "${FIND_LABEL}"
  WriteRegStr HKLM "${FIND_VERB}" "Icon" "$INSTDIR\${EXE_NAME},0"
  WriteRegStr HKLM "${FIND_VERB}" "MultiSelectModel" "Single"
  WriteRegStr HKLM "${FIND_VERB}\command" "" '"$INSTDIR\${EXE_NAME}" "%1"'
  WriteRegStr HKLM "${DRIVE_FIND_VERB}" "" "${FIND_LABEL}"
  WriteRegStr HKLM "${DRIVE_FIND_VERB}" "Icon" "$INSTDIR\${EXE_NAME},0"
  WriteRegStr HKLM "${DRIVE_FIND_VERB}" "MultiSelectModel" "Single"
  WriteRegStr HKLM "${DRIVE_FIND_VERB}\command" "" '"$INSTDIR\${EXE_NAME}" "%1"'

  ${GetSize} "$INSTDIR" "/S=0K" $4 $5 $6
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE_NAME},0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER_NAME}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER_NAME}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $4
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; ---------------------------------------------------------------------------
; Uninstaller

Function un.onInit
  SetRegView 64
  SetShellVarContext all
  Call un.RequireWindows7AndAdmin
FunctionEnd

Section "Uninstall"
  SetRegView 64
  SetShellVarContext all

  ; The program goes first: while it runs nothing else is touched, so a cancelled
  ; uninstall leaves a working installation.
  StrCpy $0 "$INSTDIR\${EXE_NAME}"
  Call un.WaitUntilProgramIsClosed
  ${If} ${Errors}
    DetailPrint "${PRODUCT} is running; nothing was removed."
    Abort
  ${EndIf}
  Delete "$INSTDIR\${EXE_NAME}"

  DeleteRegKey HKLM "${RELOCATE_VERB}"
  DeleteRegKey HKLM "${FIND_VERB}"
  DeleteRegKey HKLM "${RESTORE_VERB}"
  DeleteRegKey HKLM "${DRIVE_FIND_VERB}"
  ; The class keys exist on every Windows; where the installer had to create them
  ; they go again, and only when nothing else was put there since.
  DeleteRegKey /ifempty HKLM "${CLASSES}\Directory\shell"
  DeleteRegKey /ifempty HKLM "${CLASSES}\Directory"
  DeleteRegKey /ifempty HKLM "${CLASSES}\Drive\shell"
  DeleteRegKey /ifempty HKLM "${CLASSES}\Drive"

  Delete "$INSTDIR\${UNINSTALLER_NAME}"
  ; Not /r: anything the user saved in the program's folder stays, and so does the folder.
  RMDir "$INSTDIR"

  ; Settings are the user's: kept unless the user answers Yes, and always kept in
  ; silent mode. Only an explicit Yes removes them; a box that ends any other way
  ; (closed, or failed to show) keeps them.
  MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "Also remove the settings ${PRODUCT} remembers for you (the scan option and the answers of $\"Do not ask me again$\")?$\r$\n$\r$\nYour folders and junctions are not touched either way." /SD IDNO IDYES removeSettings
  Goto settingsDone
  removeSettings:
    DeleteRegKey HKCU "${SETTINGS_KEY}"
  settingsDone:

  ; Last, so that the entry stays listed until everything else is gone.
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
