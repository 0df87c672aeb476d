; The Windows installer of Vesk, built by scripts/windows.sh with NSIS:
;   makensis -INPUTCHARSET UTF8 /DVERSION=<x.y.z> /DSOURCE=<portable folder>
;            /DICON=<vesk.ico> /DFILES=<uninstall list> /DOUTFILE=<setup.exe> vesk.nsi
; FILES names an include with the Delete and RMDir lines for exactly the files of
; SOURCE: the uninstaller removes what it installed and never a whole folder.
;
; For the current user by default, without administrator rights. With /ALLUSERS
; (as administrator) it installs into Program Files for everyone and lets UDP
; 1001 and 1002 in through Windows Firewall for vesk.exe only.
; /S installs silently, /D=<folder> (last on the command line) chooses the folder.

Unicode true
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel user

!macro REQUIRE name
  !ifndef ${name}
    !error "makensis needs /D${name}=..."
  !endif
!macroend
!insertmacro REQUIRE VERSION
!insertmacro REQUIRE SOURCE
!insertmacro REQUIRE ICON
!insertmacro REQUIRE FILES
!insertmacro REQUIRE OUTFILE

!define APP_NAME "Vesk メッセンジャー"
!define PUBLISHER "Vesk developers"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vesk"
!define FIREWALL_RULE "Vesk (UDP 1001, 1002)"

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

Name "${APP_NAME}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Vesk"
BrandingText "Vesk ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1041 "ProductName" "${APP_NAME}"
VIAddVersionKey /LANG=1041 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1041 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1041 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1041 "FileDescription" "${APP_NAME} セットアップ"
VIAddVersionKey /LANG=1041 "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\vesk.exe"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"

Var AllUsers

Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/ALLUSERS" $1
  ${If} ${Errors}
    StrCpy $AllUsers 0
  ${Else}
    StrCpy $AllUsers 1
    UserInfo::GetAccountType
    Pop $1
    ${If} $1 != "Admin"
      ; Asks Windows to start this installer again elevated, with the same switches.
      ExecShell "runas" "$EXEPATH" "$0"
      Quit
    ${EndIf}
    ; Still the per-user default unless /D= chose a folder (asked before the
    ; switch to all users changes what $LOCALAPPDATA means).
    ${If} $INSTDIR == "$LOCALAPPDATA\Programs\Vesk"
      StrCpy $INSTDIR "$PROGRAMFILES64\Vesk"
    ${EndIf}
    SetShellVarContext all
  ${EndIf}
  ; An earlier installation in the same scope: the new version goes where it is.
  ReadRegStr $1 SHCTX "${UNINST_KEY}" "InstallLocation"
  ${If} $1 != ""
    StrCpy $INSTDIR $1
  ${EndIf}
FunctionEnd

Section
  ; An older version goes first, through its own uninstaller run in place (it
  ; waits that way), so files it had and this one lacks do not stay behind.
  ReadRegStr $1 SHCTX "${UNINST_KEY}" "InstallLocation"
  ${If} $1 != ""
  ${AndIf} ${FileExists} "$1\uninstall.exe"
    ExecWait '"$1\uninstall.exe" /S _?=$1'
    Delete "$1\uninstall.exe"
    RMDir "$1"
  ${EndIf}

  SetOutPath "$INSTDIR"
  File /r "${SOURCE}\*.*"
  File "/oname=vesk.ico" "${ICON}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${APP_NAME}.lnk" "$INSTDIR\vesk.exe" "" "$INSTDIR\vesk.ico" 0

  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayName" "${APP_NAME}"
  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\vesk.ico"
  WriteRegStr SHCTX "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr SHCTX "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD SHCTX "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $1 $2 $3
  WriteRegDWORD SHCTX "${UNINST_KEY}" "EstimatedSize" $1

  ${If} $AllUsers == 1
    ; Without the rule Windows asks on the first start, and a user without
    ; administrator rights cannot allow it.
    nsExec::Exec '"$SYSDIR\netsh.exe" advfirewall firewall add rule name="${FIREWALL_RULE}" dir=in action=allow protocol=UDP localport=1001,1002 program="$INSTDIR\vesk.exe" enable=yes'
    Pop $1
  ${EndIf}
SectionEnd

Function un.onInit
  ; Installed for everyone when the machine-wide entry names this folder.
  ReadRegStr $1 HKLM "${UNINST_KEY}" "InstallLocation"
  ${If} $1 == $INSTDIR
    StrCpy $AllUsers 1
    UserInfo::GetAccountType
    Pop $1
    ${If} $1 != "Admin"
      ; The copy in the folder, not this one, which runs from a temporary folder.
      ${GetParameters} $0
      ExecShell "runas" "$INSTDIR\uninstall.exe" "$0"
      Quit
    ${EndIf}
    SetShellVarContext all
  ${Else}
    StrCpy $AllUsers 0
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ${If} $AllUsers == 1
    nsExec::Exec '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="${FIREWALL_RULE}" program="$INSTDIR\vesk.exe"'
    Pop $1
  ${EndIf}
  Delete "$SMPROGRAMS\${APP_NAME}.lnk"
  !include "${FILES}"
  Delete "$INSTDIR\vesk.ico"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey SHCTX "${UNINST_KEY}"
SectionEnd
