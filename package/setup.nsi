; The setup program of the Orvex J2534 pass-thru driver. One program for both widths: the 32-bit
; package goes into the chosen folder (default %ProgramFiles(x86)%\MIVRA\J2534), and on 64-bit
; Windows the 64-bit package into %ProgramFiles%\MIVRA\J2534. Each folder's drivers are
; registered by its own orvex-register, as after a zip install.
;
; scripts/package builds it:
;   makensis -DVERSION=27.03.26 -DPACKAGE32=dir -DPACKAGE64=dir -DOUTFILE=file package/setup.nsi
;
; Exit codes: 0 done, 1 cancelled by the user, 2 stopped by a failed file write (as NSIS does),
; 3 not run as administrator, 4 a file to replace or remove is in use, 5 registering or
; unregistering the drivers failed, 6 the chosen folder is the 64-bit one. A failure shows a message; with /S it is a line in a log
; beside the setup program (or beside uninstall.exe).

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh
!include Sections.nsh
!include MUI2.nsh

!define PRODUCT "Orvex J2534 pass-thru driver"
!define PUBLISHER "MIVRA"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Orvex_J2534"
!define START_MENU "$SMPROGRAMS\MIVRA J2534"
!define FOLDER64 "$PROGRAMFILES64\MIVRA\J2534"

!define EXIT_NOT_ADMIN 3
!define EXIT_IN_USE 4
!define EXIT_REGISTER 5
!define EXIT_FOLDER 6

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
; The uninstall entry lives in the 32-bit registry view, where a 32-bit setup program reads it.
InstallDir "$PROGRAMFILES32\MIVRA\J2534"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

; makensis reads paths from the script's own folder.
!define MUI_ICON "../controlpad/controlpad.ico"
!define MUI_UNICON "../controlpad/controlpad.ico"
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The program files of each folder, Controlpad and the simulated VCI apart (the INI files are
; treated on their own: the user may have changed them). MACRO is called with ARG and each name.
!macro ForEachProgramFile MACRO ARG
  !insertmacro ${MACRO} "${ARG}" "Orvex_J2534.dll"
  !insertmacro ${MACRO} "${ARG}" "Orvex_J2534_0202.dll"
  !insertmacro ${MACRO} "${ARG}" "TRX4820_J2534.dll"
  !insertmacro ${MACRO} "${ARG}" "TRX4820_J2534_0202.dll"
  !insertmacro ${MACRO} "${ARG}" "TVN_J2534.dll"
  !insertmacro ${MACRO} "${ARG}" "TVN_J2534_0202.dll"
  !insertmacro ${MACRO} "${ARG}" "orvex-register.exe"
  !insertmacro ${MACRO} "${ARG}" "passthru.exe"
  !insertmacro ${MACRO} "${ARG}" "INSTALL.txt"
!macroend
!macro ForEachIni MACRO ARG
  !insertmacro ${MACRO} "${ARG}" "Orvex_J2534.ini"
  !insertmacro ${MACRO} "${ARG}" "TRX4820_J2534.ini"
  !insertmacro ${MACRO} "${ARG}" "TVN_J2534.ini"
!macroend

!macro SetEventByName NAME
  System::Call 'kernel32::OpenEventW(i 0x0002, i 0, w "${NAME}") p.r0'
  ${If} $0 <> 0
    System::Call 'kernel32::SetEvent(p r0)'
    System::Call 'kernel32::CloseHandle(p r0)'
  ${EndIf}
!macroend

; ---------------------------------------------------------------------------------------------
; Shared by the setup program and the uninstaller (whose functions carry the "un." prefix).

!macro SharedFunctions UN
  ; Stops with a message (with /S: a line in the log file at $R9) and the exit code.
  ; Stack: exit code, then text (pushed last).
  Function ${UN}Fail
    Pop $0
    Pop $1
    ${If} ${Silent}
      ${${UN}GetTime} "" "L" $2 $3 $4 $5 $6 $7 $8
      FileOpen $9 "$R9" a
      FileSeek $9 0 END
      FileWrite $9 "$4-$3-$2 $6:$7:$8 exit code $1: $0$\r$\n"
      FileClose $9
    ${Else}
      MessageBox MB_OK|MB_ICONSTOP "$0"
    ${EndIf}
    SetErrorLevel $1
    Quit
  FunctionEnd

  Function ${UN}RefuseWithoutAdmin
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "Admin"
      Push ${EXIT_NOT_ADMIN}
      Push "This program needs administrator rights: it writes below Program Files and registers the drivers for every user. Run it as administrator."
      Call ${UN}Fail
    ${EndIf}
  FunctionEnd

  ; The CRC-32 of a file as eight hex digits, "none" when it cannot be read. Stack: path -> CRC.
  Function ${UN}FileCrc
    Exch $0
    Push $1
    Push $2
    Push $3
    Push $4
    System::Call 'kernel32::CreateFileW(w r0, i 0x80000000, i 1, p 0, i 3, i 0, p 0) p.r1'
    ${If} $1 = -1
      StrCpy $0 "none"
    ${Else}
      System::Call 'kernel32::GetFileSize(p r1, p 0) i.r2'
      System::Alloc $2
      Pop $3
      System::Call 'kernel32::ReadFile(p r1, p r3, i r2, *i .r4, p 0) i.r0'
      ${If} $0 = 0
      ${OrIf} $4 <> $2
        StrCpy $0 "none"
      ${Else}
        System::Call 'ntdll::RtlComputeCrc32(i 0, p r3, i r4) i.r0'
        IntFmt $0 "%08X" $0
      ${EndIf}
      System::Free $3
      System::Call 'kernel32::CloseHandle(p r1)'
    ${EndIf}
    Pop $4
    Pop $3
    Pop $2
    Pop $1
    Exch $0
  FunctionEnd

  ; "1" when an existing file cannot be opened for writing: a host has the DLL loaded, or the
  ; program runs. Stack: path -> "1" or "0".
  Function ${UN}InUse
    Exch $0
    Push $1
    ${If} ${FileExists} $0
      System::Call 'kernel32::CreateFileW(w r0, i 0x40000000, i 7, p 0, i 3, i 0, p 0) p.r1'
      ${If} $1 = -1
        StrCpy $0 "1"
      ${Else}
        System::Call 'kernel32::CloseHandle(p r1)'
        StrCpy $0 "0"
      ${EndIf}
    ${Else}
      StrCpy $0 "0"
    ${EndIf}
    Pop $1
    Exch $0
  FunctionEnd

  ; A running Controlpad holds its program file and writes the INI files: ask it to close
  ; through its stop event, and give it ten seconds. The event is set again every round, for a
  ; panel that was still starting and had not created it yet.
  Function ${UN}ClosePanel
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "Global\Controlpad_Singleton") p.r0'
    ${If} $0 = 0
      Return
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r0)'
    DetailPrint "Asking Controlpad to close"
    ${ForEach} $1 1 100 + 1
      !insertmacro SetEventByName "Global\Controlpad_Stop"
      !insertmacro SetEventByName "Controlpad_Stop"  ; where the global name is not allowed
      Push "$INSTDIR\Controlpad.exe"
      Call ${UN}InUse
      Pop $2
      ${If} ${RunningX64}
      ${AndIf} $2 == "0"
        Push "${FOLDER64}\Controlpad.exe"
        Call ${UN}InUse
        Pop $2
      ${EndIf}
      ${If} $2 == "0"
        Return
      ${EndIf}
      Sleep 100
    ${Next}
  FunctionEnd

  ; Stops before anything is changed when a file to replace or remove is in use; with a window
  ; the user may close the program and try again. Stack: path.
  Function ${UN}StopIfInUse
    Exch $3
  again:
    Push $3
    Call ${UN}InUse
    Pop $0
    StrCmp $0 "0" free
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$3 is in use by a running program. Close the J2534 applications and Controlpad, then choose Retry." /SD IDCANCEL IDRETRY again
    Push ${EXIT_IN_USE}
    Push "$3 is in use by a running program: nothing was changed. Close the J2534 applications and Controlpad, then run this program again."
    Call ${UN}Fail
  free:
    Pop $3
  FunctionEnd
  !define /redef PREFIX "${UN}"
  Function ${UN}CheckFolderNotInUse
    Exch $R0
    !insertmacro ForEachProgramFile CheckOne "$R0"
    !insertmacro CheckOne "$R0" "Controlpad.exe"
    !insertmacro CheckOne "$R0" "VciSim.dll"
    Pop $R0
  FunctionEnd
  Function ${UN}PrepareFolders
    Call ${UN}ClosePanel
    Push $INSTDIR
    Call ${UN}CheckFolderNotInUse
    ${If} ${RunningX64}
      Push "${FOLDER64}"
      Call ${UN}CheckFolderNotInUse
    ${EndIf}
  FunctionEnd

  ; Runs orvex-register of a folder ("install" or "uninstall"). Stack: command, then folder.
  Function ${UN}Register
    Exch $1
    Exch
    Exch $0
    nsExec::ExecToStack '"$0\orvex-register.exe" $1'
    Pop $2
    Pop $3
    DetailPrint "$3"
    ${If} $2 != "0"
      Push ${EXIT_REGISTER}
      Push "orvex-register $1 in $0 ended with exit code $2:$\r$\n$3"
      Call ${UN}Fail
    ${EndIf}
    Pop $0
    Pop $1
  FunctionEnd
!macroend
!macro CheckOne FOLDER NAME
  Push "${FOLDER}\${NAME}"
  Call ${PREFIX}StopIfInUse
!macroend
!insertmacro SharedFunctions ""
!insertmacro SharedFunctions "un."

; ---------------------------------------------------------------------------------------------
; Setup

; Stops when a file could not be written (NSIS has set the error flag; with a window the user
; has already been asked whether to retry).
!macro StopOnWriteErrors FOLDER
  ${If} ${Errors}
    Push 2
    Push "Some files could not be written into ${FOLDER}; the installation is incomplete. Run this program again."
    Call Fail
  ${EndIf}
!macroend

; The INI files: a new one is installed; one that is still the reference installed last time is
; replaced by the new reference; one the user changed stays as it is, with the new reference
; beside it as <name>.ini.default. The CRC of each installed reference is kept in the uninstall
; entry. The new references lie in $PLUGINSDIR\<tag>, the tag being the folder's width.
!macro InstallIni TAG NAME
  Push "${TAG}"
  Push "${NAME}"
  Call InstallIni
!macroend
Function InstallIni
  Pop $R2  ; name
  Pop $R1  ; tag
  StrCpy $R3 "$OUTDIR\$R2"
  StrCpy $R7 $R3
  Push "$PLUGINSDIR\$R1\$R2"
  Call FileCrc
  Pop $R4
  ${If} ${FileExists} $R3
    ReadRegStr $R5 HKLM "${UNINSTALL_KEY}" "Reference $R1 $R2"
    Push $R3
    Call FileCrc
    Pop $R6
    ${If} $R6 != $R5
    ${AndIf} $R6 != $R4
      StrCpy $R7 "$R3.default"
      DetailPrint "Kept $R3 (changed since it was installed); the new reference is $R7"
    ${EndIf}
  ${EndIf}
  System::Call 'kernel32::CopyFileW(w "$PLUGINSDIR\$R1\$R2", w R7, i 0) i.r0'
  ${If} $0 = 0
    SetErrors
    DetailPrint "Cannot write $R7"
  ${EndIf}
  ${If} $R7 == $R3
    Delete "$R3.default"
  ${EndIf}
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Reference $R1 $R2" $R4
FunctionEnd

!macro ExtractFile SOURCE NAME
  File "${SOURCE}/${NAME}"
!macroend
!define PACKAGE_x86 "${PACKAGE32}"
!define PACKAGE_x64 "${PACKAGE64}"
!macro ExtractReference TAG NAME
  File "/oname=$PLUGINSDIR\${TAG}\${NAME}" "${PACKAGE_${TAG}}/${NAME}"
!macroend

; The driver writes its log into Logs beside itself, also in hosts run without administrator
; rights.
!macro MakeLogFolder FOLDER
  CreateDirectory "${FOLDER}\Logs"
  nsExec::ExecToLog 'icacls "${FOLDER}\Logs" /grant *S-1-5-32-545:(OI)(CI)M'
  Pop $0
!macroend

; One folder: the program files, Controlpad (a 32-bit program in both folders; each copy edits
; the INI files beside it), the INI files and the log folder.
!macro InstallFolder FOLDER PACKAGE TAG
  SetOutPath "${FOLDER}"
  ClearErrors
  !insertmacro ForEachProgramFile ExtractFile "${PACKAGE}"
  File "${PACKAGE32}/Controlpad.exe"
  CreateDirectory "$PLUGINSDIR\${TAG}"
  !insertmacro ForEachIni ExtractReference ${TAG}
  !insertmacro StopOnWriteErrors "${FOLDER}"
  !insertmacro ForEachIni InstallIni ${TAG}
  !insertmacro StopOnWriteErrors "${FOLDER}"
  !insertmacro MakeLogFolder "${FOLDER}"
!macroend

; The 64-bit package would replace the 32-bit one there.
!macro IsFolder64 RESULT
  StrCpy ${RESULT} "0"
  ${If} ${RunningX64}
  ${AndIf} $INSTDIR == "${FOLDER64}"
    StrCpy ${RESULT} "1"
  ${EndIf}
!macroend
Function .onVerifyInstDir
  !insertmacro IsFolder64 $0
  ${If} $0 == "1"
    Abort
  ${EndIf}
FunctionEnd

Section "Drivers, control panel and tools" SecMain
  SectionIn RO
  !insertmacro IsFolder64 $0
  ${If} $0 == "1"
    Push ${EXIT_FOLDER}
    Push "$INSTDIR is the folder of the 64-bit drivers; choose another one for the 32-bit drivers."
    Call Fail
  ${EndIf}
  Call PrepareFolders
  InitPluginsDir
  !insertmacro InstallFolder $INSTDIR "${PACKAGE32}" x86
  ${If} ${RunningX64}
    !insertmacro InstallFolder "${FOLDER64}" "${PACKAGE64}" x64
  ${EndIf}
SectionEnd

Section /o "Simulated VCI, for trying the driver without a vehicle" SecSim
  ClearErrors
  SetOutPath $INSTDIR
  File "${PACKAGE32}/VciSim.dll"
  ${If} ${RunningX64}
    SetOutPath "${FOLDER64}"
    File "${PACKAGE64}/VciSim.dll"
  ${EndIf}
  !insertmacro StopOnWriteErrors "$OUTDIR"
SectionEnd

; Below Program Files only administrators may write the INI files: the panel's shortcut starts
; it elevated (the "Run as administrator" flag of the link, set through IShellLinkDataList).
!macro PanelShortcut LINK TARGET
  CreateShortcut "${LINK}" "${TARGET}"
  Push "${LINK}"
  Call RunLinkAsAdmin
!macroend
Function RunLinkAsAdmin
  Exch $0
  Push $1
  Push $2
  Push $3
  Push $4
  ; CLSID_ShellLink, IID_IShellLinkW
  System::Call 'ole32::CoCreateInstance(g "{00021401-0000-0000-C000-000000000046}", p 0, i 1, g "{000214F9-0000-0000-C000-000000000046}", *p .r1) i.r4'
  ${If} $4 = 0
    ; IPersistFile: Load (5), Save (6); IShellLinkDataList: GetFlags (6), SetFlags (7)
    System::Call '$1->0(g "{0000010b-0000-0000-C000-000000000046}", *p .r2) i.r4'
    ${If} $4 = 0
      System::Call '$1->0(g "{45e2b4ae-b1c3-11d0-b92f-00a0c90312e1}", *p .r3) i.r4'
      ${If} $4 = 0
        System::Call '$2->5(w r0, i 2) i.r4'
        System::Call '$3->6(*i .r4)'
        IntOp $4 $4 | 0x2000  ; SLDF_RUNAS_USER
        System::Call '$3->7(i r4) i.r4'
        System::Call '$2->6(w r0, i 1) i.r4'
        System::Call '$3->2()'
      ${EndIf}
      System::Call '$2->2()'
    ${EndIf}
    System::Call '$1->2()'
  ${EndIf}
  ${If} $4 <> 0
    DetailPrint "Cannot mark $0 to run as administrator"
  ${EndIf}
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

Section "-Register"
  ${IfNot} ${SectionIsSelected} ${SecSim}
    Delete "$INSTDIR\VciSim.dll"
    ${If} ${RunningX64}
      Delete "${FOLDER64}\VciSim.dll"
    ${EndIf}
  ${EndIf}
  Push $INSTDIR
  Push "install"
  Call Register
  ${If} ${RunningX64}
    Push "${FOLDER64}"
    Push "install"
    Call Register
  ${EndIf}

  SetOutPath $INSTDIR
  WriteUninstaller "$INSTDIR\uninstall.exe"

  SetShellVarContext all
  RMDir /r "${START_MENU}"
  CreateDirectory "${START_MENU}"
  ${If} ${RunningX64}
    !insertmacro PanelShortcut "${START_MENU}\Control panel (32-bit programs).lnk" "$INSTDIR\Controlpad.exe"
    !insertmacro PanelShortcut "${START_MENU}\Control panel (64-bit programs).lnk" "${FOLDER64}\Controlpad.exe"
    CreateShortcut "${START_MENU}\Logs (32-bit programs).lnk" "$INSTDIR\Logs"
    CreateShortcut "${START_MENU}\Logs (64-bit programs).lnk" "${FOLDER64}\Logs"
  ${Else}
    !insertmacro PanelShortcut "${START_MENU}\Control panel.lnk" "$INSTDIR\Controlpad.exe"
    CreateShortcut "${START_MENU}\Logs.lnk" "$INSTDIR\Logs"
  ${EndIf}

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Controlpad.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  ${If} ${RunningX64}
    ${GetSize} "${FOLDER64}" "/S=0K" $1 $2 $3
    IntOp $0 $0 + $1
  ${EndIf}
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function .onInit
  StrCpy $R9 "$EXEDIR\$EXEFILE" -4
  StrCpy $R9 "$R9.log"
  Call RefuseWithoutAdmin
  ; The simulated VCI: chosen by /SIM, and kept on an upgrade of an installation that has it.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/SIM" $1
  ${IfNot} ${Errors}
  ${OrIf} ${FileExists} "$INSTDIR\VciSim.dll"
    !insertmacro SelectSection ${SecSim}
  ${EndIf}
FunctionEnd

; ---------------------------------------------------------------------------------------------
; Uninstall

Var KeptFiles

; Removes an INI file unless the user changed it since it was installed; the reference written
; beside a changed one goes in any case.
!macro RemoveIni TAG NAME
  Push "${TAG}"
  Push "${NAME}"
  Call un.RemoveIni
!macroend
Function un.RemoveIni
  Pop $R2  ; name
  Pop $R1  ; tag
  ${If} $R1 == "x86"
    StrCpy $R3 "$INSTDIR\$R2"
  ${Else}
    StrCpy $R3 "${FOLDER64}\$R2"
  ${EndIf}
  Delete "$R3.default"
  ${IfNot} ${FileExists} $R3
    Return
  ${EndIf}
  ReadRegStr $R5 HKLM "${UNINSTALL_KEY}" "Reference $R1 $R2"
  Push $R3
  Call un.FileCrc
  Pop $R6
  ${If} $R6 == $R5
    Delete $R3
  ${Else}
    DetailPrint "Kept $R3: it was changed since it was installed"
    StrCpy $KeptFiles "$KeptFiles$\r$\n  $R3"
  ${EndIf}
FunctionEnd

!macro RemoveFile FOLDER NAME
  Delete "${FOLDER}\${NAME}"
!macroend
; The folder goes when it is empty, and so does the MIVRA folder above a default location.
!macro RemoveFolder FOLDER TAG
  !insertmacro ForEachIni RemoveIni ${TAG}
  !insertmacro ForEachProgramFile RemoveFile "${FOLDER}"
  Delete "${FOLDER}\Controlpad.exe"
  Delete "${FOLDER}\VciSim.dll"
  Delete "${FOLDER}\uninstall.exe"
  RMDir "${FOLDER}\Logs"
  ${If} ${FileExists} "${FOLDER}\Logs\*.*"
    DetailPrint "Kept ${FOLDER}\Logs"
    StrCpy $KeptFiles "$KeptFiles$\r$\n  ${FOLDER}\Logs"
  ${EndIf}
  RMDir "${FOLDER}"
  StrCpy $0 "${FOLDER}" "" -12
  ${If} $0 == "\MIVRA\J2534"
    ${un.GetParent} "${FOLDER}" $0
    RMDir $0
  ${EndIf}
!macroend

; A folder whose orvex-register is gone (removed by hand) has nothing left to unregister with.
!macro Unregister FOLDER
  ${If} ${FileExists} "${FOLDER}\orvex-register.exe"
    Push "${FOLDER}"
    Push "uninstall"
    Call un.Register
  ${Else}
    DetailPrint "No orvex-register.exe in ${FOLDER}: its registry entries, if any, are left"
  ${EndIf}
!macroend

Section "Uninstall"
  SetOutPath $TEMP
  Call un.PrepareFolders
  ${If} ${RunningX64}
    !insertmacro Unregister "${FOLDER64}"
  ${EndIf}
  !insertmacro Unregister $INSTDIR

  !insertmacro RemoveFolder $INSTDIR x86
  ${If} ${RunningX64}
    !insertmacro RemoveFolder "${FOLDER64}" x64
  ${EndIf}
  SetShellVarContext all
  RMDir /r "${START_MENU}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${If} $KeptFiles != ""
    MessageBox MB_OK|MB_ICONINFORMATION "These were kept, as they hold your changes or logs:$KeptFiles" /SD IDOK
  ${EndIf}
SectionEnd

Function un.onInit
  StrCpy $R9 "$INSTDIR\uninstall.log"
  Call un.RefuseWithoutAdmin
FunctionEnd
