#!/usr/bin/env bash
# Exits 0 when this system's kernel runs 32-bit x86 programs, which Wine's
# 32-bit half (and so the i686 installer under Wine) needs: some kernels are
# built or booted without it. Asks the 32-bit dynamic loader of the i386 C
# library (libc6:i386) to run, which it must be installed for.
set -euo pipefail
[ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
