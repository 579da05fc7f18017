; The Windows installer: per user into %LOCALAPPDATA%\Programs\Kavenor, no administrator rights (the
; program writes Config.ini beside itself, which a standard user cannot do under Program Files).
;
; makensis -INPUTCHARSET UTF8 -DVERSION=1.1.0 -DARCH=win64|win32 -DSTAGE=<program folder>
;          -DICON=<kavenor.ico> -DINSTALLED_FILES=<uninstall list> -DOUTFILE=<setup.exe>
;          [-DSIGN_CERT=<pfx> -DSIGN_PASSWORD_FILE=<file>]
;
; Silent set-up of many counters:
;   Kavenor-1.1.0-win64-setup.exe /S /PORT=7415 /MODEL=ORV5U /DEVICENAME=大厅2 /AUTOSTART=1
; PORT, MODEL (0 to 3 or the model's name) and DEVICENAME are checked and written into Config.ini as
; the settings window writes them; AUTOSTART=1 or 0 adds or removes the start at login; LOCALONLY=1
; or 0 lets only this computer connect ([IP] Bind=loopback) or any (a new installation is local
; only unless told otherwise); ALLOWEDORIGINS lists the web sites whose pages may use the reader
; ([Security] AllowedOrigins; "*": every one) and turns the operator's questions about other sites
; off (AskOperator=0), so that only the listed sites may; empty: no list, and the questions stay as
; they are. ASKOPERATOR=1 or 0 turns the questions on or off by itself. A value with blanks is
; quoted: "/DEVICENAME=大厅 2". A bad value ends the installer with exit code 2 before it changes
; anything.

!if "${ARCH}" == "win64"
  ; The default stub is a 32-bit program; the 64-bit one also runs where 32-bit programs cannot.
  Target amd64-unicode
!else
  Target x86-unicode
!endif

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh
!include StrFunc.nsh
${StrLoc}

!define PRODUCT "Kavenor"
!define PRODUCT_TITLE "Kavenor 读卡服务"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kavenor"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define PRODUCT_KEY "Software\Kavenor"
; The program's single-instance mutex: it exists while a copy of the program runs.
!define INSTANCE_MUTEX "Kavenor"

Name "${PRODUCT_TITLE}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Kavenor"
InstallDirRegKey HKCU "${PRODUCT_KEY}" "InstallDir"
SetCompressor /SOLID lzma
ManifestDPIAware true
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=2052 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=2052 "FileDescription" "${PRODUCT_TITLE} 安装程序"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "LegalCopyright" "${PRODUCT}"

!ifdef SIGN_CERT
  !uninstfinalize 'osslsigncode sign -pkcs12 "${SIGN_CERT}" -readpass "${SIGN_PASSWORD_FILE}" -n ${PRODUCT} -h sha256 -in "%1" -out "%1.signed" >/dev/null && mv "%1.signed" "%1"'
!endif

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\Kavenor.exe"
!define MUI_FINISHPAGE_RUN_TEXT "现在启动 ${PRODUCT}"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\说明.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "查看使用说明（放入读卡器 SDK 的方法）"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

Var Params        ; the command line after the program's name
Var OptionValue   ; FindOption's results
Var OptionFound
Var Port          ; the checked option values; empty when not given
Var Model
Var DeviceName
Var DeviceNameGiven
Var AllowedOrigins
Var AllowedOriginsGiven
Var AskOperator        ; "", "0" or "1"
Var WasRunning    ; "1" when the installer ended a running copy of the program

; --- the command line ------------------------------------------------------------------------------

; Finds "/NAME=" (the name given on the stack, without regard to case) at the start of the command
; line or after a blank or a quote. The value ends at the next blank, or at a closing quote when the
; option ("/NAME=a b") or the value (/NAME="a b") is quoted; unlike ${GetOptions}, a value may hold
; "/", as a URL does. Sets $OptionFound ("1" or "") and $OptionValue.
Function FindOption
  Exch $R0
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  Push $R6
  StrCpy $OptionFound ""
  StrCpy $OptionValue ""
  StrLen $R1 $R0
  StrLen $R2 $Params
  StrCpy $R3 0
  ${DoWhile} $R3 < $R2
    StrCpy $R4 $Params $R1 $R3
    StrCpy $R5 " "
    ${If} $R3 > 0
      IntOp $R5 $R3 - 1
      StrCpy $R5 $Params 1 $R5
    ${EndIf}
    ${If} $R4 == $R0
      ${If} $R5 != " "
      ${AndIf} $R5 != "$\t"
      ${AndIf} $R5 != '"'
        StrCpy $R4 ""   ; inside another word: not this option
      ${EndIf}
    ${EndIf}
    ${If} $R4 == $R0
      StrCpy $OptionFound "1"
      IntOp $R3 $R3 + $R1
      StrCpy $R6 " "
      ${If} $R5 == '"'
        StrCpy $R6 '"'
      ${Else}
        StrCpy $R4 $Params 1 $R3
        ${If} $R4 == '"'
          StrCpy $R6 '"'
          IntOp $R3 $R3 + 1
        ${EndIf}
      ${EndIf}
      ${DoWhile} $R3 < $R2
        StrCpy $R4 $Params 1 $R3
        ${If} $R4 == $R6
          ${ExitDo}
        ${ElseIf} $R6 == " "
        ${AndIf} $R4 == "$\t"
          ${ExitDo}
        ${EndIf}
        StrCpy $OptionValue "$OptionValue$R4"
        IntOp $R3 $R3 + 1
      ${Loop}
      ${ExitDo}
    ${EndIf}
    IntOp $R3 $R3 + 1
  ${Loop}
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

!macro FindOption NAME
  Push "${NAME}"
  Call FindOption
!macroend

; Ends the installer before it changes anything: a message box when interactive, exit code 2 always.
!macro RefuseOption TEXT
  ${IfNot} ${Silent}
    MessageBox MB_OK|MB_ICONEXCLAMATION "${TEXT}"
  ${EndIf}
  SetErrorLevel 2
  Quit
!macroend

; The port as the settings window takes it: blanks around it ignored, one to five digits, 1 to 65535.
; In: $OptionValue. Out: $Port, the decimal text without leading zeros, or "" when it is refused.
Function CheckPort
  Push $R0
  Push $R1
  Push $R2
  Push $R3
  StrCpy $R0 $OptionValue
  ${Do}
    StrCpy $R1 $R0 1
    ${If} $R1 == " "
    ${OrIf} $R1 == "$\t"
    ${OrIf} $R1 == "　"
      StrCpy $R0 $R0 "" 1
    ${Else}
      ${ExitDo}
    ${EndIf}
  ${Loop}
  ${Do}
    StrCpy $R1 $R0 1 -1
    ${If} $R1 == " "
    ${OrIf} $R1 == "$\t"
    ${OrIf} $R1 == "　"
      StrCpy $R0 $R0 -1
    ${Else}
      ${ExitDo}
    ${EndIf}
  ${Loop}
  StrCpy $Port ""
  StrLen $R1 $R0
  ${If} $R1 >= 1
  ${AndIf} $R1 <= 5
    StrCpy $R2 0   ; the value
    StrCpy $R3 0   ; the position
    ${DoWhile} $R3 < $R1
      StrCpy $Port $R0 1 $R3
      ; Each digit by name: IntOp would read a leading zero as octal and other characters as 0.
      ${Switch} $Port
        ${Case} "0"
        ${Case} "1"
        ${Case} "2"
        ${Case} "3"
        ${Case} "4"
        ${Case} "5"
        ${Case} "6"
        ${Case} "7"
        ${Case} "8"
        ${Case} "9"
          IntOp $R2 $R2 * 10
          IntOp $R2 $R2 + $Port
          ${Break}
        ${Default}
          StrCpy $R2 -1
          StrCpy $R3 $R1
      ${EndSwitch}
      IntOp $R3 $R3 + 1
    ${Loop}
    StrCpy $Port ""
    ${If} $R2 >= 1
    ${AndIf} $R2 <= 65535
      StrCpy $Port $R2
    ${EndIf}
  ${EndIf}
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

; The model by its number in the list or by its name, without regard to case. In: $OptionValue.
; Out: $Model, 0 to 3, or "" when it is neither.
Function CheckModel
  StrCpy $Model ""
  ${Switch} $OptionValue
    ${Case} "0"
    ${Case} "ORV5U"
      StrCpy $Model 0
      ${Break}
    ${Case} "1"
    ${Case} "ORV5A"
      StrCpy $Model 1
      ${Break}
    ${Case} "2"
    ${Case} "ORV5A(FT232)"
      StrCpy $Model 2
      ${Break}
    ${Case} "3"
    ${Case} "ORV5U-LN"
      StrCpy $Model 3
      ${Break}
  ${EndSwitch}
FunctionEnd

; --- a running copy of the program -----------------------------------------------------------------

; A running program holds Kavenor.exe open. It is asked to close as the system asks a program at
; shutdown (taskkill without /F posts WM_CLOSE to its windows), and ended when it has not after ten
; seconds. Sets $WasRunning.
!macro CloseRunningProgram un
Function ${un}ProgramRunning
  System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${INSTANCE_MUTEX}") p .r0'
  ${If} $0 != 0
    System::Call 'kernel32::CloseHandle(p r0)'
    Push 1
  ${Else}
    Push 0
  ${EndIf}
FunctionEnd

Function ${un}CloseRunningProgram
  StrCpy $WasRunning ""
  Call ${un}ProgramRunning
  Pop $0
  ${If} $0 == 1
    StrCpy $WasRunning "1"
    DetailPrint "正在关闭运行中的 ${PRODUCT}…"
    nsExec::Exec '"$SYSDIR\taskkill.exe" /IM Kavenor.exe'
    Pop $0
    StrCpy $1 0
    ${Do}
      Sleep 100
      IntOp $1 $1 + 1
      ${If} $1 = 100
        nsExec::Exec '"$SYSDIR\taskkill.exe" /F /IM Kavenor.exe'
        Pop $0
      ${EndIf}
      Call ${un}ProgramRunning
      Pop $0
    ${LoopWhile} $0 == 1
  ${EndIf}
FunctionEnd
!macroend
!insertmacro CloseRunningProgram ""
!insertmacro CloseRunningProgram "un."

; --- installing ------------------------------------------------------------------------------------


Section "${PRODUCT}（必需）" SecProgram
  SectionIn RO
  Call CloseRunningProgram
  SetOutPath "$INSTDIR"
  ; The SDK folders of the package hold only notes: a kadrel.dll put there is never overwritten, and
  ; Config.ini is not part of the package.
  File /r "${STAGE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The settings as the settings window writes them.
  ${If} $Port != ""
    WriteINIStr "$INSTDIR\Config.ini" "IP" "port" $Port
  ${EndIf}
  ${If} $Model != ""
    WriteINIStr "$INSTDIR\Config.ini" "Device" "ID" $Model
  ${EndIf}
  ${If} $DeviceNameGiven == "1"
    WriteINIStr "$INSTDIR\Config.ini" "Device" "DeviceName" $DeviceName
  ${EndIf}

  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Kavenor.exe" "" "$INSTDIR\Kavenor.exe" 0 SW_SHOWNORMAL \
    "" "${PRODUCT_TITLE}"

  WriteRegStr HKCU "${PRODUCT_KEY}" "InstallDir" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_TITLE}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Kavenor.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section /o "开机自动启动" SecAutostart
  WriteRegStr HKCU "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\Kavenor.exe"'
SectionEnd

Section "仅允许本机访问" SecLocalOnly
  WriteINIStr "$INSTDIR\Config.ini" "IP" "Bind" "loopback"
SectionEnd

Section "-finish"
  ${IfNot} ${SectionIsSelected} ${SecAutostart}
    DeleteRegValue HKCU "${RUN_KEY}" "${PRODUCT}"
  ${EndIf}
  ${IfNot} ${SectionIsSelected} ${SecLocalOnly}
    DeleteINIStr "$INSTDIR\Config.ini" "IP" "Bind"
  ${EndIf}
  ${If} $AllowedOriginsGiven == "1"
    ${If} $AllowedOrigins == ""
      DeleteINIStr "$INSTDIR\Config.ini" "Security" "AllowedOrigins"
    ${Else}
      WriteINIStr "$INSTDIR\Config.ini" "Security" "AllowedOrigins" $AllowedOrigins
      ; IT's list: only the listed sites, without questions.
      WriteINIStr "$INSTDIR\Config.ini" "Security" "AskOperator" "0"
    ${EndIf}
  ${EndIf}
  ${If} $AskOperator != ""
    WriteINIStr "$INSTDIR\Config.ini" "Security" "AskOperator" $AskOperator
  ${EndIf}
  ; A silent upgrade puts the counter back as it found it; interactively the finish page offers it.
  ${If} ${Silent}
  ${AndIf} $WasRunning == "1"
    Exec '"$INSTDIR\Kavenor.exe"'
  ${EndIf}
SectionEnd

Function .onInit
  ${GetParameters} $Params

  !insertmacro FindOption "/PORT="
  ${If} $OptionFound == "1"
    Call CheckPort
    ${If} $Port == ""
      !insertmacro RefuseOption "端口号应为1到65535之间的整数（/PORT=$OptionValue）"
    ${EndIf}
  ${EndIf}

  !insertmacro FindOption "/MODEL="
  ${If} $OptionFound == "1"
    Call CheckModel
    ${If} $Model == ""
      !insertmacro RefuseOption "设备型号应为 0 到 3 或型号名称 ORV5U、ORV5A、ORV5A(FT232)、ORV5U-LN（/MODEL=$OptionValue）"
    ${EndIf}
  ${EndIf}

  !insertmacro FindOption "/DEVICENAME="
  StrCpy $DeviceNameGiven $OptionFound
  StrCpy $DeviceName $OptionValue
  ${If} $DeviceNameGiven == "1"
    ${StrLoc} $0 $DeviceName "|" ">"
    ${If} $0 != ""
      !insertmacro RefuseOption "设备名称不能包含“|”（/DEVICENAME=$DeviceName）"
    ${EndIf}
  ${EndIf}

  ; Start at login: as the option says, else as the installation stands.
  !insertmacro FindOption "/AUTOSTART="
  ${If} $OptionFound == "1"
    ${If} $OptionValue == "1"
      !insertmacro SelectSection ${SecAutostart}
    ${ElseIf} $OptionValue == "0"
      !insertmacro UnselectSection ${SecAutostart}
    ${Else}
      !insertmacro RefuseOption "/AUTOSTART= 应为 1 或 0（/AUTOSTART=$OptionValue）"
    ${EndIf}
  ${Else}
    ReadRegStr $0 HKCU "${RUN_KEY}" "${PRODUCT}"
    ${If} $0 != ""
      !insertmacro SelectSection ${SecAutostart}
    ${EndIf}
  ${EndIf}

  ; Only this computer may connect: as the option says, else as the installation stands; a new
  ; installation starts local only.
  !insertmacro FindOption "/LOCALONLY="
  ${If} $OptionFound == "1"
    ${If} $OptionValue == "1"
      !insertmacro SelectSection ${SecLocalOnly}
    ${ElseIf} $OptionValue == "0"
      !insertmacro UnselectSection ${SecLocalOnly}
    ${Else}
      !insertmacro RefuseOption "/LOCALONLY= 应为 1 或 0（/LOCALONLY=$OptionValue）"
    ${EndIf}
  ${ElseIf} ${FileExists} "$INSTDIR\Kavenor.exe"
    ReadINIStr $0 "$INSTDIR\Config.ini" "IP" "Bind"
    ${If} $0 == "loopback"
      !insertmacro SelectSection ${SecLocalOnly}
    ${Else}
      !insertmacro UnselectSection ${SecLocalOnly}
    ${EndIf}
  ${EndIf}

  ; A list of URLs: ${GetOptions} would cut it at the first "/".
  !insertmacro FindOption "/ALLOWEDORIGINS="
  StrCpy $AllowedOriginsGiven $OptionFound
  StrCpy $AllowedOrigins $OptionValue

  !insertmacro FindOption "/ASKOPERATOR="
  StrCpy $AskOperator ""
  ${If} $OptionFound == "1"
    ${If} $OptionValue == "1"
    ${OrIf} $OptionValue == "0"
      StrCpy $AskOperator $OptionValue
    ${Else}
      !insertmacro RefuseOption "/ASKOPERATOR= 应为 1 或 0（/ASKOPERATOR=$OptionValue）"
    ${EndIf}
  ${EndIf}
FunctionEnd

; --- uninstalling ----------------------------------------------------------------------------------

Section "Uninstall"
  Call un.CloseRunningProgram
  !include "${INSTALLED_FILES}"
  ; What the program, the operator and the simulated reader put there since.
  Delete "$INSTDIR\Config.ini"
  !macro DeleteSdkFolder FOLDER
    Delete "$INSTDIR\${FOLDER}\kadrel.dll"
    Delete "$INSTDIR\${FOLDER}\scenario.ini"
    Delete "$INSTDIR\${FOLDER}\calls.log"
    RMDir "$INSTDIR\${FOLDER}"
  !macroend
  !insertmacro DeleteSdkFolder "ORV5A"
  !insertmacro DeleteSdkFolder "ORV5U"
  !insertmacro DeleteSdkFolder "ORV5ULN"
  Delete "$INSTDIR\uninstall.exe"
  ; Not /r: a folder that holds files of the operator's own stays, with them.
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegValue HKCU "${RUN_KEY}" "${PRODUCT}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "${PRODUCT_KEY}"
SectionEnd
