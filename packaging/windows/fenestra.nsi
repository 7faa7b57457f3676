; The per-user installer of Fenestra. It needs no administrator rights and
; installs to %LOCALAPPDATA%\Programs\Fenestra, so that the program can write
; config.dll and its folders beside itself.
;
;   makensis -DPAYLOAD=<folder of cmake --install> [-DVERSION=1.0.0] [-DOUTFILE=setup.exe] fenestra.nsi
;
; Installer:   /S silent, /D=<folder> another folder (last on the command line).
;              A config.dll beside the installer is installed when none is there yet.
; Uninstaller: /S silent, /REMOVEDATA also removes config.dll and the user's data
;              (the uninstaller's page shows the same choice as a box, unticked).
; An upgrade and an uninstall remove exactly the program's files, which the
; installer lists in uninstall.lst; everything the program wrote stays.

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
!macroend

; Removes the entries that uninstall.lst names: the files of the version
; installed before, whatever they were.
!macro RemoveProgramFiles un
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
    StrCmp $1 "" loop
    StrCmp $1 "." loop
    StrCmp $1 ".." loop
    !insertmacro IfUserData $1 loop
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

Section "-program"
  ; Unpacked beside the target first, so that the list of the program's files
  ; is what this installer carries.
  InitPluginsDir
  SetOutPath "$PLUGINSDIR\payload"
  File /r "${PAYLOAD}/*"

  Call RemoveProgramFiles
  CreateDirectory "$INSTDIR"
  ClearErrors
  FileOpen $0 "$INSTDIR\${MANIFEST}" w
  IfErrors 0 +3
    MessageBox MB_ICONSTOP "无法写入 $INSTDIR。" /SD IDOK
    Abort
  FindFirst $1 $2 "$PLUGINSDIR\payload\*"
  ${DoWhile} $2 != ""
    ${If} $2 != "."
    ${AndIf} $2 != ".."
      !insertmacro IfUserData $2 next
      ClearErrors
      Rename "$PLUGINSDIR\payload\$2" "$INSTDIR\$2"
      ${If} ${Errors}
        CopyFiles /SILENT "$PLUGINSDIR\payload\$2" "$INSTDIR"
      ${EndIf}
      FileWrite $0 "$2$\r$\n"
    ${EndIf}
    next:
    FindNext $1 $2
  ${Loop}
  FindClose $1
  FileClose $0
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
  Delete "$SMPROGRAMS\${APP_NAME}.lnk"
  Delete "$DESKTOP\${APP_NAME}.lnk"
  Delete "$INSTDIR\uninstall.exe"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

Section /o "un.删除配置和数据（config.dll、报表、日志、下载和服务器文件）" SecData
  Delete "$INSTDIR\config.dll"
  RMDir /r "$INSTDIR\reports"
  RMDir /r "$INSTDIR\reports_b"
  RMDir /r "$INSTDIR\logs"
  RMDir /r "$INSTDIR\下载"
  RMDir /r "$INSTDIR\server"
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
