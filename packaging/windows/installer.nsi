; SKOV Import's Windows installer: both programs, the Start menu entry, the example template and drawings.
; Built by scripts/windows-package.sh: makensis -DVERSION=0.1 -DVERSION_QUAD=0.1.0.0 -DSTAGE=dir -DOUTFILE=setup.exe
; with STAGE/files.nsh listing the staged files (macros InstallFiles and RemoveFiles).
Target amd64-unicode  ; a 64-bit installer for the 64-bit programs
ManifestDPIAware true
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "LogicLib.nsh"

!ifndef VERSION | VERSION_QUAD | STAGE | OUTFILE
  !error "VERSION, VERSION_QUAD, STAGE and OUTFILE are set by scripts/windows-package.sh"
!endif
!include "${STAGE}/files.nsh"

!define PRODUCT "SKOV Import"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define START_MENU_LINK "$SMPROGRAMS\${PRODUCT}.lnk"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "Software\${PRODUCT}" "InstallDir"
RequestExecutionLevel admin
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION_QUAD}"
VIAddVersionKey /LANG=1031 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1031 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1031 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1031 "FileDescription" "${PRODUCT} installieren"
VIAddVersionKey /LANG=1031 "LegalCopyright" "${PRODUCT}"

!define MUI_ICON "${STAGE}/skov-import.ico"
!define MUI_UNICON "${STAGE}/skov-import.ico"
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN "$INSTDIR\Import.exe"
!define MUI_FINISHPAGE_RUN_NOTCHECKED
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "German"

Section "${PRODUCT}" SecProgram
  SectionIn RO
  !insertmacro InstallFiles
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  SetShellVarContext all
  CreateShortcut "${START_MENU_LINK}" "$INSTDIR\Import.exe" "" "$INSTDIR\Import.exe" 0
  WriteRegStr HKLM "Software\${PRODUCT}" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Import.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The program looks for its template in the Documents folder; one that is
; there already is the user's and stays as it is.
Section "Beispielvorlage SKOV_IMPORT.XLS in den Ordner Dokumente legen" SecTemplate
  SetShellVarContext current
  ${IfNot} ${FileExists} "$DOCUMENTS\SKOV_IMPORT.XLS"
    CopyFiles /SILENT "$INSTDIR\Beispiele\SKOV_IMPORT.XLS" "$DOCUMENTS"
  ${EndIf}
SectionEnd

; Only what the installer put there goes: the template in Documents, logs,
; lists and workbooks (also those written into Beispiele) stay, and so do
; the folders that still hold them.
Section "Uninstall"
  SetShellVarContext all
  Delete "${START_MENU_LINK}"
  !insertmacro RemoveFiles
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\${PRODUCT}"
SectionEnd
