; The add-on's folder as a vendor would ship it with NSIS instead: one solid
; LZMA stream at the default dictionary, a 64-bit installer for the user alone
; that unpacks everything into a folder below the temp folder and starts
; Setup.exe from there without waiting, as the Lumo installer does. Run plainly
; it shows its progress page and closes itself; with /S it shows nothing.
;
;   makensis -V2 -DSRC=FOLDER -DOUT=INSTALLER bench/whole_run/nsis-addon.nsi

Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

Name "Lumo add-on"
OutFile "${OUT}"
AutoCloseWindow true

Page instfiles

Section
  SetOutPath "$TEMP\LumoAddon"
  File /r "${SRC}/*"
  Exec '"$TEMP\LumoAddon\Setup.exe"'
SectionEnd
