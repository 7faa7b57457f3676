; The per-user installer of Fenestra. It needs no administrator rights and
; installs to %LOCALAPPDATA%\Programs\Fenestra, so that the program can write
; config.dll and its folders beside itself.
;
;   makensis -DPAYLOAD=<folder of cmake --install> -DLAUNCHER=<launcher fenestra.exe>
;            [-DVERSION=1.0.0] [-DOUTFILE=setup.exe] fenestra.nsi
;
; The launcher goes to the root, which the shortcuts start; the deployed shell
; to versions\<VERSION>\; update\state.ini names it the current version.
; Installer:   /S silent, /D=<folder> another folder (last on the command line).
;              /NOUPDATE turns updates off, /RING=<name> puts the desktop in a
;              rollout ring: either writes update-policy.ini with just that.
;              A config.dll beside the installer is installed when none is there yet.
; Uninstaller: /S silent, /REMOVEDATA also removes config.dll, update-policy.ini
;              and the user's data (the uninstaller's page shows the same choice
;              as a box, unticked).
; An upgrade keeps the installation's id, the version it replaces (for the
; launcher to fall back to) and the data; it and an uninstall remove exactly the
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
!ifndef OUTFILE
  !define OUTFILE "fenestra-${VERSION}-setup.exe"
!endif

!define APP_NAME "门窗软件管理"
!define APP_EXE "fenestra.exe"
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
!macroend

!macro RemoveProgramFiles un
; $2 = 1 when $1 is a bare name, one entry right in the install folder, else 0:
; a \, / or : could reach outside it or into a folder below it, * or ? match
; the user's files too, and a name of dots and spaces only is the folder itself,
; its parent or no name at all.
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
      StrCpy $2 0
      ${ExitDo}
    ${EndIf}
    ${If} $4 != "."
    ${AndIf} $4 != " "
      StrCpy $2 1
    ${EndIf}
    IntOp $3 $3 + 1
  ${Loop}
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
    ; Versions and the update state are removed on their own terms.
    StrCmp $1 "versions" loop
    StrCmp $1 "update" loop
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

; Reads update\state.ini before an upgrade rewrites it: $R1 installation_id,
; $R2 current, $R3 previous, $R4 bad, $R5 serial (empty when not there).
Function ReadState
  StrCpy $R1 ""
  StrCpy $R2 ""
  StrCpy $R3 ""
  StrCpy $R4 ""
  StrCpy $R5 ""
  ClearErrors
  FileOpen $0 "$INSTDIR\update\state.ini" r
  IfErrors done
  loop:
    ClearErrors
    FileRead $0 $1
    IfErrors close
    ${WordReplace} $1 "$\r" "" "+" $1
    ${WordReplace} $1 "$\n" "" "+" $1
    StrCpy $2 $1 16
    StrCmp $2 "installation_id=" 0 +3
      StrCpy $R1 $1 "" 16
      Goto loop
    StrCpy $2 $1 8
    StrCmp $2 "current=" 0 +3
      StrCpy $R2 $1 "" 8
      Goto loop
    StrCpy $2 $1 9
    StrCmp $2 "previous=" 0 +3
      StrCpy $R3 $1 "" 9
      Goto loop
    StrCpy $2 $1 4
    StrCmp $2 "bad=" 0 +3
      StrCpy $R4 $1 "" 4
      Goto loop
    StrCpy $2 $1 7
    StrCmp $2 "serial=" 0 loop
      StrCpy $R5 $1 "" 7
      Goto loop
  close:
    FileClose $0
  done:
FunctionEnd

; Makes this version the current one. The version it replaces becomes the
; previous one; what was staged or on trial is dropped, as this installer
; decides the version; this version is no longer bad, as IT chose it.
Function WriteState
  Call ReadState
  ${If} $R1 == ""
    ; A new installation id: 32 hex characters from a fresh GUID.
    System::Call 'ole32::CoCreateGuid(g .r1)'
    ${WordReplace} $1 "{" "" "+" $1
    ${WordReplace} $1 "}" "" "+" $1
    ${WordReplace} $1 "-" "" "+" $1
    ${StrFilter} $1 "-" "" "" $R1
  ${EndIf}
  ${If} $R2 != ""
  ${AndIf} $R2 != "${VERSION}"
    StrCpy $R3 $R2
  ${EndIf}
  ${If} $R3 == "${VERSION}"
    StrCpy $R3 ""
  ${EndIf}
  ${WordReplace} ",$R4," ",${VERSION}," "," "+" $R4
  StrCpy $R4 $R4 "" 1
  StrCpy $R4 $R4 -1
  ${If} $R5 == ""
    StrCpy $R5 0
  ${EndIf}
  CreateDirectory "$INSTDIR\update"
  ClearErrors
  FileOpen $0 "$INSTDIR\update\state.ini.fenestra-tmp" w
  IfErrors failed
  FileWrite $0 "installation_id=$R1$\ncurrent=${VERSION}$\nprevious=$R3$\npending=$\ntrial=$\n"
  FileWrite $0 "trial_starts=0$\nbad=$R4$\nserial=$R5$\n"
  FileClose $0
  ; Replaced in one step, as the launcher and the shell do.
  System::Call 'kernel32::MoveFileExW(w "$INSTDIR\update\state.ini.fenestra-tmp", w "$INSTDIR\update\state.ini", i 9) i .r1'
  StrCmp $1 0 failed
  Return
  failed:
    MessageBox MB_ICONSTOP "无法写入 $INSTDIR\update\state.ini。" /SD IDOK
    Abort
FunctionEnd

; /NOUPDATE and /RING=<name> write update-policy.ini; without them IT's file stays.
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
  ; Unpacked beside the target first, then moved into its version folder.
  InitPluginsDir
  SetOutPath "$PLUGINSDIR\payload"
  File /r "${PAYLOAD}/*"

  Call RemoveProgramFiles
  CreateDirectory "$INSTDIR\versions"
  ClearErrors
  FileOpen $0 "$INSTDIR\${MANIFEST}" w
  IfErrors 0 +3
    MessageBox MB_ICONSTOP "无法写入 $INSTDIR。" /SD IDOK
    Abort
  FileWrite $0 "${APP_EXE}$\r$\n"
  FileClose $0

  ; The launcher runs as long as the shell does, and a running program cannot
  ; be overwritten, only renamed: the old one goes once it has ended.
  Delete "$INSTDIR\${APP_EXE}.old"
  Rename "$INSTDIR\${APP_EXE}" "$INSTDIR\${APP_EXE}.old"
  SetOutPath "$INSTDIR"
  File "/oname=${APP_EXE}" "${LAUNCHER}"
  Delete "$INSTDIR\${APP_EXE}.old"

  ; The marker last, as staging writes it: a folder without it is never started.
  RMDir /r "$INSTDIR\versions\${VERSION}"
  ClearErrors
  Rename "$PLUGINSDIR\payload" "$INSTDIR\versions\${VERSION}"
  ${If} ${Errors}
    CreateDirectory "$INSTDIR\versions\${VERSION}"
    CopyFiles /SILENT "$PLUGINSDIR\payload\*" "$INSTDIR\versions\${VERSION}"
  ${EndIf}
  FileOpen $0 "$INSTDIR\versions\${VERSION}\.fenestra-complete" w
  FileClose $0
  Call WriteState
  Call WritePolicy
  SetOutPath "$INSTDIR"

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
SectionEnd

Section "-un.folder"
  ; Only when nothing is left in it.
  RMDir "$INSTDIR"
SectionEnd

Function un.onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVEDATA" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecData} ${SF_SELECTED}
  ${EndIf}
FunctionEnd
