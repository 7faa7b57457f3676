; The per-user installer of Fenestra. It needs no administrator rights and
; installs to %LOCALAPPDATA%\Programs\Fenestra, so that the program can write
; config.dll and its folders beside itself.
;
;   makensis -DPAYLOAD=<folder of cmake --install> -DLAUNCHER=<launcher fenestra.exe>
;            [-DVERSION=1.0.0] [-DSERIAL=<n> -DSIGNED=<seconds>] [-DOUTFILE=setup.exe] fenestra.nsi
;
; The launcher goes to the root, which the shortcuts start; the deployed shell
; to versions\<VERSION>\; update\state.ini notes it as installed, and the
; launcher makes it the current version at its next start. SERIAL and SIGNED
; are the serial and signing time of the manifest that published this version
; (the release tool prints them): the installation then trusts no older one.
; It installs into an empty or new folder, or over an installation; any
; other folder is refused, so that an uninstall never removes what is not its own.
; Installer:   /S silent, /D=<folder> another folder (last on the command line).
;              /NOUPDATE turns updates off, /RING=<name> puts the desktop in a
;              rollout ring: either writes update-policy.ini with just that.
;              A config.dll beside the installer is installed when none is there yet.
; Uninstaller: /S silent, /REMOVEDATA also removes config.dll, IT's policy.ini
;              and update-policy.ini and the user's data (the uninstaller's page shows the same choice
;              as a box, unticked).
; An upgrade keeps the update state (the installation's id, the version it
; replaces, for the launcher to fall back to, the bad versions, what the
; updater verified) and the data; it and an uninstall remove exactly the
; program's files at the root, which the installer lists in uninstall.lst.
; An uninstall also removes every version and the update state.

; A 64-bit installer for a 64-bit program: it starts nowhere else.
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
!ifdef STORE
  ; -DSTORE: the payload uncompressed, for a quick compile check.
  SetCompress off
!else
  SetCompressor /SOLID lzma
!endif

!ifndef PAYLOAD
  !error "Give the deployed folder: makensis -DPAYLOAD=<folder> fenestra.nsi"
!endif
!ifndef LAUNCHER
  !error "Give the launcher: makensis -DLAUNCHER=<fenestra.exe> fenestra.nsi"
!endif
!ifndef VERSION
  !define VERSION "1.0.0"
!endif
!ifdef SERIAL
  !ifndef SIGNED
    !error "Give the manifest's signing time with its serial: -DSIGNED=<seconds since 1970>"
  !endif
!endif
!ifndef OUTFILE
  !define OUTFILE "fenestra-${VERSION}-setup.exe"
!endif

!define APP_NAME "门窗软件管理"
!define APP_EXE "fenestra.exe"
; The launcher spells it too (uninstallKey in launcher/installlayout.h): it keeps DisplayVersion current.
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Fenestra"
!define MANIFEST "uninstall.lst"

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "WordFunc.nsh"

Name "${APP_NAME}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Fenestra"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails nevershow
ShowUninstDetails nevershow

!define MUI_ICON "${__FILEDIR__}/../../qml/images/qtweb.ico"
!define MUI_UNICON "${__FILEDIR__}/../../qml/images/qtweb.ico"
!define MUI_FINISHPAGE_RUN "$INSTDIR\${APP_EXE}"
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "${APP_NAME}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "${APP_NAME} 安装程序"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "Fenestra"

; What the program and its users write beside it: never part of the program's
; files, kept by upgrades and by an uninstall unless asked.
!macro IfUserData name label
  StrCmp ${name} "config.dll" ${label}
  StrCmp ${name} "reports" ${label}
  StrCmp ${name} "reports_b" ${label}
  StrCmp ${name} "logs" ${label}
  StrCmp ${name} "下载" ${label}
  StrCmp ${name} "server" ${label}
  StrCmp ${name} "update-policy.ini" ${label}
  StrCmp ${name} "policy.ini" ${label}
!macroend

!macro RemoveProgramFiles un
; $2 = 1 when $1 is a bare name, one entry right in the install folder, else 0:
; a \, / or : could reach outside it or into a folder below it, * or ? match
; the user's files too, and a name of dots and spaces only is the folder itself,
; its parent or no name at all. Windows drops trailing dots and spaces and
; reads ~ as a short name, so "logs." or "REPORT~1" could name the user's
; folders: such names are not bare either.
Function ${un}IsBareName
  Push $3
  Push $4
  Push $5
  StrCpy $2 0
  StrLen $5 $1
  StrCpy $3 0
  ${DoWhile} $3 < $5
    StrCpy $4 $1 1 $3
    ${If} $4 == "\"
    ${OrIf} $4 == "/"
    ${OrIf} $4 == ":"
    ${OrIf} $4 == "*"
    ${OrIf} $4 == "?"
    ${OrIf} $4 == "~"
      StrCpy $2 0
      ${ExitDo}
    ${EndIf}
    ${If} $4 != "."
    ${AndIf} $4 != " "
      StrCpy $2 1
    ${EndIf}
    IntOp $3 $3 + 1
  ${Loop}
  StrCpy $4 $1 1 -1
  ${If} $4 == "."
  ${OrIf} $4 == " "
    StrCpy $2 0
  ${EndIf}
  Pop $5
  Pop $4
  Pop $3
FunctionEnd

; Removes the entries that uninstall.lst names: the files of the version
; installed before, whatever they were, but only bare names.
Function ${un}RemoveProgramFiles
  ClearErrors
  FileOpen $0 "$INSTDIR\${MANIFEST}" r
  IfErrors done
  loop:
    ClearErrors
    FileRead $0 $1
    IfErrors close
    StrCpy $2 $1 2 -2
    StrCmp $2 "$\r$\n" 0 +2
      StrCpy $1 $1 -2
    Call ${un}IsBareName
    StrCmp $2 1 0 loop
    !insertmacro IfUserData $1 loop
    ; Versions and the update state are removed on their own terms, the
    ; launcher replaced or removed on its own.
    StrCmp $1 "versions" loop
    StrCmp $1 "update" loop
    StrCmp $1 "${APP_EXE}" loop
    RMDir /r "$INSTDIR\$1"
    Delete "$INSTDIR\$1"
    Goto loop
  close:
    FileClose $0
    Delete "$INSTDIR\${MANIFEST}"
  done:
FunctionEnd
!macroend
!insertmacro RemoveProgramFiles ""
!insertmacro RemoveProgramFiles "un."

; Notes this version as installed in update\state.ini: the launcher makes it
; current at its next start (the one it replaces becomes the previous one,
; it is no longer bad, what the updater had staged or was trying is dropped).
; The file is copied as it is and the installer's lines appended, as the last
; line of a key counts: the rest of the state stays, however long its lines.
; Sets the error flag when it cannot, leaving the file as it was.
Function WriteState
  CreateDirectory "$INSTDIR\update"
  Delete "$INSTDIR\update\state.ini.fenestra-tmp"
  ${If} ${FileExists} "$INSTDIR\update\state.ini"
    System::Call 'kernel32::CopyFileW(w "$INSTDIR\update\state.ini", w "$INSTDIR\update\state.ini.fenestra-tmp", i 1) i .r1'
    StrCmp $1 0 failed
  ${EndIf}
  ClearErrors
  FileOpen $0 "$INSTDIR\update\state.ini.fenestra-tmp" a
  IfErrors failed
  FileSeek $0 0 END
  FileWrite $0 "$\ninstalled=${VERSION}$\n"
!ifdef SERIAL
  ; What the installation trusts starts at the manifest of this release.
  FileWrite $0 "serial=${SERIAL}$\ntime_floor=${SIGNED}$\nmanifest_sha256=$\nserial_key=$\n"
!endif
  FileClose $0
  IfErrors failed
  ; Replaced in one step, as the launcher and the shell do.
  System::Call 'kernel32::MoveFileExW(w "$INSTDIR\update\state.ini.fenestra-tmp", w "$INSTDIR\update\state.ini", i 9) i .r1'
  StrCmp $1 0 failed
  ClearErrors
  Return
  failed:
    Delete "$INSTDIR\update\state.ini.fenestra-tmp"
    SetErrors
FunctionEnd

; The program's own folder, a new one, or one that holds nothing but the
; user's data an uninstall kept: never another program's, whose "versions" or
; "update" an uninstall would remove.
!macro IsInstallation label
  IfFileExists "$INSTDIR\${MANIFEST}" ${label}
  IfFileExists "$INSTDIR\update\state.ini" ${label}
!macroend

Function CheckFolder
  !insertmacro IsInstallation done
  ClearErrors
  FindFirst $0 $1 "$INSTDIR\*"
  ${DoUntil} ${Errors}
    StrCmp $1 "." next
    StrCmp $1 ".." next
    !insertmacro IfUserData $1 next
    FindClose $0
    MessageBox MB_ICONSTOP "$INSTDIR 不是空文件夹，也不是${APP_NAME}的安装文件夹。请选择一个空文件夹。" /SD IDOK
    Abort
    next:
    FindNext $0 $1
  ${Loop}
  FindClose $0
  done:
FunctionEnd

; /NOUPDATE and /RING=<name> write update-policy.ini; without them IT's file stays.
; IT's policy.ini, read after it, is never written here: a key it sets wins.
Function WritePolicy
  ${GetParameters} $1
  StrCpy $2 ""
  ClearErrors
  ${GetOptions} $1 "/NOUPDATE" $3
  ${IfNot} ${Errors}
    StrCpy $2 "enabled=0$\n"
  ${EndIf}
  ClearErrors
  ${GetOptions} $1 "/RING=" $3
  ${IfNot} ${Errors}
  ${AndIf} $3 != ""
    StrCpy $2 "$2ring=$3$\n"
  ${EndIf}
  StrCmp $2 "" done
  FileOpen $0 "$INSTDIR\update-policy.ini" w
  FileWrite $0 $2
  FileClose $0
  done:
FunctionEnd

Section "-program"
  Call CheckFolder
  ; Unpacked beside the target first, then moved into its version folder.
  InitPluginsDir
  SetOutPath "$PLUGINSDIR\payload"
  File /r "${PAYLOAD}/*"

  ; The version folder first, its marker last, as staging does: until the
  ; marker is written, a failure leaves the installation as it was.
  ${GetSize} "$PLUGINSDIR\payload" "/S=0K" $5 $6 $7
  CreateDirectory "$INSTDIR\versions"
  RMDir /r "$INSTDIR\versions\${VERSION}"
  ClearErrors
  Rename "$PLUGINSDIR\payload" "$INSTDIR\versions\${VERSION}"
  ${If} ${Errors}
    ; Another volume (/D=): copied instead.
    ClearErrors
    CreateDirectory "$INSTDIR\versions\${VERSION}"
    CopyFiles /SILENT "$PLUGINSDIR\payload\*" "$INSTDIR\versions\${VERSION}"
  ${EndIf}
  ; A copy cut short (a full disk) never becomes a version: its error, and
  ; what arrived, are checked.
  ${GetSize} "$INSTDIR\versions\${VERSION}" "/S=0K" $1 $2 $3
  ${If} ${Errors}
  ${OrIf} $1 != $5
  ${OrIf} $2 != $6
  ${OrIf} $3 != $7
    Goto versionFailed
  ${EndIf}
  ClearErrors
  FileOpen $0 "$INSTDIR\versions\${VERSION}\.fenestra-complete" w
  IfErrors versionFailed
  FileWrite $0 "version=${VERSION}$\n"
  FileClose $0
  Call WriteState
  IfErrors versionFailed stateWritten
  versionFailed:
    RMDir /r "$INSTDIR\versions\${VERSION}"
    MessageBox MB_ICONSTOP "无法写入 $INSTDIR（磁盘空间是否已满？）。原有程序未改动。" /SD IDOK
    Abort
  stateWritten:

  ; Only now the launcher is replaced. It runs as long as the shell does, and a
  ; running program cannot be overwritten, only renamed: the old one goes once
  ; it has ended.
  Delete "$INSTDIR\${APP_EXE}.old"
  Rename "$INSTDIR\${APP_EXE}" "$INSTDIR\${APP_EXE}.old"
  SetOutPath "$INSTDIR"
  File "/oname=${APP_EXE}" "${LAUNCHER}"
  Delete "$INSTDIR\${APP_EXE}.old"
  Call RemoveProgramFiles
  ClearErrors
  FileOpen $0 "$INSTDIR\${MANIFEST}" w
  ${IfNot} ${Errors}
    FileWrite $0 "${APP_EXE}$\r$\n"
    FileClose $0
  ${EndIf}
  Call WritePolicy

  ; IT preconfigures a factory with a config.dll beside the installer.
  ${IfNot} ${FileExists} "$INSTDIR\config.dll"
  ${AndIf} ${FileExists} "$EXEDIR\config.dll"
    CopyFiles /SILENT "$EXEDIR\config.dll" "$INSTDIR"
  ${EndIf}

  CreateShortcut "$SMPROGRAMS\${APP_NAME}.lnk" "$INSTDIR\${APP_EXE}"
  CreateShortcut "$DESKTOP\${APP_NAME}.lnk" "$INSTDIR\${APP_EXE}"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${APP_NAME}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${APP_EXE}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $1 $2 $3
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $1

  ; The program needs the Visual C++ runtime, which only an administrator installs.
  ReadRegDWORD $1 HKLM "SOFTWARE\Microsoft\VisualStudio\14.0\VC\Runtimes\x64" "Installed"
  ${If} $1 != 1
    MessageBox MB_ICONEXCLAMATION "本机未安装 Microsoft Visual C++ 运行库（x64），${APP_NAME}可能无法启动。请联系管理员安装。" /SD IDOK
  ${EndIf}
SectionEnd

Section "-un.program"
  Call un.RemoveProgramFiles
  Delete "$INSTDIR\${APP_EXE}"
  Delete "$INSTDIR\${APP_EXE}.old"
  RMDir /r "$INSTDIR\versions"
  RMDir /r "$INSTDIR\update"
  Delete "$SMPROGRAMS\${APP_NAME}.lnk"
  Delete "$DESKTOP\${APP_NAME}.lnk"
  Delete "$INSTDIR\uninstall.exe"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

Section /o "un.删除配置和数据（config.dll、更新设置、报表、日志、下载和服务器文件）" SecData
  Delete "$INSTDIR\config.dll"
  RMDir /r "$INSTDIR\reports"
  RMDir /r "$INSTDIR\reports_b"
  RMDir /r "$INSTDIR\logs"
  RMDir /r "$INSTDIR\下载"
  RMDir /r "$INSTDIR\server"
  Delete "$INSTDIR\update-policy.ini"
  Delete "$INSTDIR\policy.ini"
SectionEnd

Section "-un.folder"
  ; Only when nothing is left in it.
  RMDir "$INSTDIR"
SectionEnd

Function un.onInit
  !insertmacro IsInstallation own
  MessageBox MB_ICONSTOP "$INSTDIR 不是${APP_NAME}的安装文件夹，未删除任何文件。" /SD IDOK
  Abort
  own:
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVEDATA" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecData} ${SF_SELECTED}
  ${EndIf}
FunctionEnd
