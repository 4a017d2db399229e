#!/usr/bin/env bash
# Exits 0 when this system's kernel runs 32-bit x86 programs, which Wine's
# 32-bit half (and so the i686 installer under Wine) needs: some kernels are
# built or booted without it ("Exec format error"). Runs a 93-byte i386
# program that only exits, so it needs no i386 library and no foreign
# architecture: asking must not add what cannot run.
set -euo pipefail
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
# ELF header, one loadable segment, then: mov eax,1; xor ebx,ebx; int 0x80
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'\
'\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'\
'\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'\
'\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08'\
'\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00'\
'\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
