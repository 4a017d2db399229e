# Run in the guest once, when the image is made: a Wine prefix booted as the
# tests' own are (tests/wine/wine_session.cc), which every test session then
# starts from instead of booting one of its own under emulation.
set -eux
prefix=/var/lib/lumo-wine/prefix
mkdir -p "$(dirname "$prefix")"
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
Xvfb :9 -screen 0 1024x768x24 -nolisten tcp &
export DISPLAY=:9
# Under emulation wineboot may report a failed step of the 32-bit half's
# set-up (its status is not the prefix's state): what counts is that both
# halves run programs in the prefix afterwards.
wineboot -i || echo "wineboot ended with status $?"
wineserver -w
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
wine cmd /c echo 64-bit programs run | grep -q '64-bit programs run'
wine "$prefix/drive_c/windows/syswow64/cmd.exe" /c echo 32-bit programs run | grep -q '32-bit programs run'
wineserver -w
kill %1
