# Run in the guest once, when the image is made: a Wine prefix booted as the
# tests' own are (tests/wine/wine_session.cc), which every test session then
# starts from instead of booting one of its own under emulation.
set -eux
prefix=/var/lib/lumo-wine/prefix
mkdir -p "$(dirname "$prefix")"
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
Xvfb :9 -screen 0 1024x768x24 -nolisten tcp &
export DISPLAY=:9
wineboot -i
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
wineserver -w
kill %1
# Both halves of Wine start in it.
test -d "$prefix/drive_c/windows/syswow64"
