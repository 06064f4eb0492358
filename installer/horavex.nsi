; The Horavex installer.  Built by the "installer" target:
;   makensis -DTARGET=x86-unicode -DBIN=<folder of horavex.exe> -DOUTFILE=<setup.exe>
;            -DMBEDTLS_LICENSE=<Mbed TLS's LICENSE> horavex.nsi
; Silent for deployment: setup.exe /S [/HOST=name] [/SNTP | /NTS] [/TRUST=ca.pem],
; uninstall.exe /S.  Mbed TLS's licence text goes beside the program.
; It installs the time service (horavexsvc.exe, service HoravexTime) beside
; the program and starts it; the uninstaller stops and removes it.  The
; uninstaller keeps the settings (HKLM\Software\Quillmoor\Horavex, and the
; uninstalling user's copy under HKCU) unless given /PURGE.

!define VERSION "3.1.4.1"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Horavex"
!define SETTINGS_KEY "Software\Quillmoor\Horavex"
!ifndef TARGET
  !define TARGET "x86-unicode"
!endif
!ifndef MBEDTLS_LICENSE
  !error "MBEDTLS_LICENSE names the licence text of the Mbed TLS linked in"
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
; An upgrade goes where the service already is.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "Horavex"
VIAddVersionKey "CompanyName" "Quillmoor"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Horavex setup"
VIAddVersionKey "LegalCopyright" "Copyright (c) Quillmoor"

!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "nsDialogs.nsh"
!include "WinMessages.nsh"

; The time server and its protocol, from the page or /HOST= and /SNTP;
; NTS and the machine's trust file for it from /NTS and /TRUST= only.
Var Host
Var Sntp
Var Nts
Var Trust
Var HostField
Var SntpBox

Page directory
Page custom ServerPage ServerPageLeave
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  !if "${TARGET}" == "amd64-unicode"
    SetRegView 64
  !endif
  ReadRegStr $Host HKLM "${SETTINGS_KEY}" "host"
  ReadRegDWORD $Sntp HKLM "${SETTINGS_KEY}" "protocol"
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/HOST=" $1
  IfErrors +2
    StrCpy $Host $1
  ClearErrors
  ${GetOptions} $0 "/SNTP" $1
  IfErrors +2
    StrCpy $Sntp 1
  ClearErrors
  ${GetOptions} $0 "/NTS" $1
  IfErrors +2
    StrCpy $Nts 1
  ClearErrors
  ${GetOptions} $0 "/TRUST=" $1
  IfErrors +2
    StrCpy $Trust $1
FunctionEnd

Function ServerPage
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 24u "The time server Horavex sets the clock from: a name or an address. \
      Left empty, Horavex asks for one when it first starts."
  Pop $0
  ${NSD_CreateText} 0 28u 100% 12u "$Host"
  Pop $HostField
  ${NSD_CreateCheckbox} 0 48u 100% 10u "Ask it with &SNTP (UDP 123), which every NTP server answers"
  Pop $SntpBox
  ${If} $Sntp == 1
    ${NSD_Check} $SntpBox
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function ServerPageLeave
  ${NSD_GetText} $HostField $Host
  ${NSD_GetState} $SntpBox $Sntp
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
  ; An older service holds its file: it stops first, and starts again below.
  IfFileExists "$INSTDIR\horavexsvc.exe" 0 +2
    ExecWait '"$INSTDIR\horavexsvc.exe" stop'
  SetOutPath "$INSTDIR"
  File "${BIN}\horavex.exe"
  File "${BIN}\horavexsvc.exe"
  File /nonfatal "${BIN}\horavex.hlp"
  File /nonfatal "${BIN}\horavex.cnt"
  File "/oname=mbedtls-license.txt" "${MBEDTLS_LICENSE}"
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

  ; The machine's time server: the current host and the list's first entry.
  ${If} $Host != ""
    WriteRegStr HKLM "${SETTINGS_KEY}" "host" "$Host"
    WriteRegStr HKLM "${SETTINGS_KEY}\hosts" "host0" "$Host"
  ${EndIf}
  ${If} $Nts == 1
    WriteRegDWORD HKLM "${SETTINGS_KEY}" "protocol" 2
  ${ElseIf} $Sntp == 1
    WriteRegDWORD HKLM "${SETTINGS_KEY}" "protocol" 1
  ${EndIf}
  ${If} $Trust != ""
    WriteRegStr HKLM "${SETTINGS_KEY}" "ntsTrust" "$Trust"
  ${EndIf}

  ; The time service, registered (or brought up to date) and started.
  ExecWait '"$INSTDIR\horavexsvc.exe" install' $0
  ${If} $0 != 0
    DetailPrint "The Horavex Time Service could not be installed (error $0)."
    SetErrorLevel 2
  ${EndIf}
SectionEnd

Section "Uninstall"
  !insertmacro CloseRunningProgram
  ExecWait '"$INSTDIR\horavexsvc.exe" remove'
  Delete "$INSTDIR\horavexsvc.exe"
  Delete "$INSTDIR\horavex.exe"
  Delete "$INSTDIR\horavex.hlp"
  Delete "$INSTDIR\horavex.cnt"
  Delete "$INSTDIR\horavex.gid"
  Delete "$INSTDIR\mbedtls-license.txt"
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
