; The Horavex installer.  Built by the "installer" target:
;   makensis -DTARGET=x86-unicode -DBIN=<folder of horavex.exe> -DOUTFILE=<setup.exe> horavex.nsi
; Silent for deployment: setup.exe /S, uninstall.exe /S.  The uninstaller
; keeps the settings (HKLM\Software\Quillmoor\Horavex, and the uninstalling
; user's copy under HKCU) unless given /PURGE.

!define VERSION "3.1.4.1"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Horavex"
!define SETTINGS_KEY "Software\Quillmoor\Horavex"
!ifndef TARGET
  !define TARGET "x86-unicode"
!endif

Target "${TARGET}"
Unicode true
Name "Horavex"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
!if "${TARGET}" == "amd64-unicode"
  InstallDir "$PROGRAMFILES64\Horavex"
!else
  InstallDir "$PROGRAMFILES\Horavex"
!endif
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "Horavex"
VIAddVersionKey "CompanyName" "Quillmoor"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Horavex setup"
VIAddVersionKey "LegalCopyright" "Copyright (c) Quillmoor"

!include "FileFunc.nsh"
!include "WinMessages.nsh"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  !if "${TARGET}" == "amd64-unicode"
    SetRegView 64
  !endif
FunctionEnd

Function un.onInit
  !if "${TARGET}" == "amd64-unicode"
    SetRegView 64
  !endif
FunctionEnd

; A running copy would keep its file, and write its settings at its end.
!macro CloseRunningProgram
  FindWindow $0 "qvx-horavex"
  StrCmp $0 0 +2
    SendMessage $0 ${WM_CLOSE} 0 0
!macroend

Section "Horavex"
  !insertmacro CloseRunningProgram
  SetOutPath "$INSTDIR"
  File "${BIN}\horavex.exe"
  File /nonfatal "${BIN}\horavex.hlp"
  File /nonfatal "${BIN}\horavex.cnt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  SetShellVarContext all
  CreateShortcut "$SMPROGRAMS\Horavex.lnk" "$INSTDIR\horavex.exe" "" "$INSTDIR\horavex.exe" 0 \
      SW_SHOWNORMAL "" "Horavex"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Horavex"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Quillmoor"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\horavex.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  !insertmacro CloseRunningProgram
  Delete "$INSTDIR\horavex.exe"
  Delete "$INSTDIR\horavex.hlp"
  Delete "$INSTDIR\horavex.cnt"
  Delete "$INSTDIR\horavex.gid"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  ; "Add to startup" would otherwise start a program that is gone.
  SetShellVarContext current
  Delete "$SMSTARTUP\Horavex.lnk"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Horavex.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PURGE" $1
  IfErrors keep
    DeleteRegKey HKLM "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKLM "Software\Quillmoor"
    ; The uninstalling user's own copy would win over a reinstall's settings.
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "Software\Quillmoor"
  keep:
SectionEnd
